// ShowCarPosition with the marker redraw into the real map control, on tracks of 1,000,
// 100,000 and 1,000,000 points, against the point search scanning from the first point.
#include "CarPosition.h"
#include "DateTimeValue.h"
#include "MapLayers.h"
#include "MessageSink.h"
#include "PlaybackController.h"
#include "TForm1.h"
#include "TMapvexControl.h"

#include <QApplication>
#include <benchmark/benchmark.h>
#include <random>

namespace {

struct NullSink : IMessageSink {
    void showMessage(const QString&, const QString&) override {}
};

std::vector<double> syntheticTrack(int points) {
    std::vector<double> data;
    data.reserve(size_t(points) * 5);
    for (int i = 0; i < points; ++i)
        data.insert(data.end(), {39873.0 + i / 86400.0, 37.6 + i * 1e-6, 55.75 + std::sin(i * 1e-3) * 1e-3,
                                 i * 10.0, 40.0 + i % 20});
    return data;
}

// One window, with the real map control, per track length.
struct Player {
    explicit Player(int points) {
        environment.createServer = []() -> IVantrelAutomation* { return nullptr; };
        environment.createMap = [](QWidget* parent) {
            auto* control = new TMapvexControl(parent);
            return PlayerEnvironment::MapParts{control, control};
        };
        environment.messages = &sink;
        environment.now = [] { return 39873.0; };
        form = std::make_unique<TForm1>(environment);
        form->mapLayers->createTables();
        form->track.load(syntheticTrack(points), points);
    }
    NullSink sink;
    PlayerEnvironment environment;
    std::unique_ptr<TForm1> form;
};

// Playback times spread over the whole track, the same for every variant.
std::vector<double> times(const TrackStore& track, int count) {
    std::mt19937 random(7);
    std::uniform_real_distribution<double> fraction(0, 1);
    std::vector<double> result;
    const double first = track.time(1), last = track.time(track.PointCount);
    for (int i = 0; i < count; ++i)
        result.push_back(first + (last - first) * fraction(random));
    return result;
}

int scanPointIndex(const TrackStore& track, double t, int current) {
    for (int k = 1; k <= track.PointCount; ++k)
        if (track.time(k) >= t)
            return k >= 2 ? k - 1 : 2;
    return current;
}

void ShowCarPosition(benchmark::State& state) {
    Player player(int(state.range(0)));
    const auto ts = times(player.form->track, 1024);
    size_t i = 0;
    for (auto _ : state)
        player.form->playback().ShowCarPosition(ts[i++ % ts.size()]);
}

void BinarySearch(benchmark::State& state) {
    Player player(int(state.range(0)));
    const auto ts = times(player.form->track, 1024);
    size_t i = 0;
    int c = 1;
    for (auto _ : state)
        benchmark::DoNotOptimize(c = carposition::FindPointIndex(player.form->track, ts[i++ % ts.size()], c));
}

void ScanFromFirstPoint(benchmark::State& state) {
    Player player(int(state.range(0)));
    const auto ts = times(player.form->track, 1024);
    size_t i = 0;
    int c = 1;
    for (auto _ : state)
        benchmark::DoNotOptimize(c = scanPointIndex(player.form->track, ts[i++ % ts.size()], c));
}

BENCHMARK(ShowCarPosition)->Arg(1000)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BinarySearch)->Arg(1000)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMicrosecond);
BENCHMARK(ScanFromFirstPoint)->Arg(1000)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    std::printf("\nShowCarPosition with a scanning search costs the call above minus BinarySearch plus\n"
                "ScanFromFirstPoint at the same length; the ratio of the two is the speed-up.\n");
    return 0;
}
