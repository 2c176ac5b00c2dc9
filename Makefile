# The two commands of the README: `make run` and `make test`. Both install what is missing.
BUILD ?= build
JOBS ?= 2

.PHONY: deps build run test bench sanitize clean

deps:
	@scripts/install-deps.sh

build: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(BUILD) -j$(JOBS)

run: build
	scripts/run-player.sh

test: build
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen dbus-run-session -- ctest --output-on-failure -j$(JOBS)

bench: build
	scripts/run-benchmarks.sh $(BUILD)

clean:
	rm -rf $(BUILD)
