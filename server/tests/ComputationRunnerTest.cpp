#include "ComputationRunner.h"

#include "QtPrinters.h"
#include "Store.h"

#include <QTemporaryDir>
#include <condition_variable>
#include <gtest/gtest.h>
#include <mutex>

using namespace vserver;

// A newer request stops the computation under way inside its work, rather than letting it run
// to its end and dropping the result, and is computed itself. The newer request is made the
// moment the older one's messages are read, so that the older one is certainly under way.
TEST(ComputationRunner, ANewerRequestStopsTheOneUnderWayAndIsComputed) {
    QTemporaryDir dir;
    const QString path = dir.filePath("s.sqlite");
    Car car{0, "g1", "Тягач", "", 4242, QString()};
    {
        Store store(path);
        store.begin();
        store.addGroup({"g1", "Дальнобой"});
        car.id = store.addCar(car);
        std::vector<Message> messages(3 * 8640 +
                                      1); // three days driving, a message every ten seconds
        for (size_t i = 0; i < messages.size(); ++i)
            messages[i] = {39873.0 + double(i) / 8640,
                           37 + i * 1e-5,
                           55,
                           40,
                           true,
                           true,
                           kNoValue,
                           kNoValue,
                           0};
        store.addMessages(car.device, messages);
        store.commit();
    }
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<ComputationRunner::Outcome> outcomes;
    ComputationRunner* runner = nullptr;
    quint64 newer = 0;
    ComputationRunner running(
        path,
        [&](ComputationRunner::Outcome outcome) {
            const std::lock_guard lock(mutex);
            outcomes.push_back(std::move(outcome));
            changed.notify_one();
        },
        [&](quint64 generation) {
            if (generation == 1)
                newer = runner->submit({car, 39873.0, 39874.0}); // the first day only
        });
    runner = &running;
    EXPECT_EQ(running.submit({car, 39873.0, 39876.0}), 1u);
    std::unique_lock lock(mutex);
    ASSERT_TRUE(
        changed.wait_for(lock, std::chrono::minutes(2), [&] { return outcomes.size() == 2; }));
    EXPECT_EQ(outcomes[0].generation, 1u);
    EXPECT_TRUE(outcomes[0].cancelled);
    EXPECT_FALSE(outcomes[0].result);
    EXPECT_EQ(outcomes[1].generation, newer);
    ASSERT_TRUE(outcomes[1].result) << outcomes[1].error.toStdString();
    ASSERT_EQ(outcomes[1].result->trips.size(), 1u);
    EXPECT_EQ(outcomes[1].result->trips[0].points.size(), 8641u);
    EXPECT_EQ(outcomes[1].result->carId, car.id);
}
