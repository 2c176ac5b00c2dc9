#include "TrackerHub.h"

#include "PositionCheck.h"
#include "Store.h"

#include <QDateTime>
#include <algorithm>
#include <cmath>

namespace trackers {
namespace {

constexpr int kLogLinesPerSecond = 20;
constexpr int kReloadEveryMs = 200; // trackers registered while the server runs are seen this soon

} // namespace

TrackerHub::TrackerHub(const QString& storePath, bool verbose, Log log, QObject* parent)
    : QObject(parent), store_(std::make_unique<vserver::Store>(storePath)), verbose_(verbose),
      log_(std::move(log)), writer_(storePath) {
    reloadTrackers();
    logWindow_.start();
    connect(&writer_, &PositionWriter::batchStored, this, [this](int added, int duplicates) {
        counts_.stored += added;
        counts_.duplicates += duplicates;
        if (added > 0)
            notice_.note();
    });
    connect(&writer_, &PositionWriter::batchFailed, this, [this](const QString& reason) {
        say(QStringLiteral("пакет позиций не сохранён, подтверждения не отправлены: ") + reason);
    });
    connect(&notice_, &OnlineNotice::announce, this, &TrackerHub::onlineData);
}

TrackerHub::~TrackerHub() {
    // The delays from a packet's arrival to its acknowledgement, said once at the end.
    qint64 total = 0;
    for (qint64 n : delays_)
        total += n;
    if (total == 0)
        return;
    const auto percentile = [&](double p) {
        qint64 seen = 0;
        for (size_t ms = 0; ms < delays_.size(); ++ms)
            if ((seen += delays_[ms]) >= qint64(std::ceil(p * double(total))))
                return qint64(ms);
        return qint64(delays_.size() - 1);
    };
    log_(QStringLiteral("подтверждений %1, от приёма до подтверждения: p50 %2 мс, p99 %3 мс; сохранено позиций %4, "
                        "повторов %5, неизвестных приборов %6, отклонено позиций %7 и пакетов %8")
             .arg(total).arg(percentile(0.5)).arg(percentile(0.99)).arg(counts_.stored).arg(counts_.duplicates)
             .arg(counts_.unknown).arg(counts_.refusedPositions).arg(counts_.refusedPackets));
}

void TrackerHub::noteAcknowledged(qint64 ms) { ++delays_[size_t(std::clamp<qint64>(ms, 0, qint64(delays_.size()) - 1))]; }

void TrackerHub::reloadTrackers() {
    devices_.clear();
    for (const vserver::Tracker& tracker : store_->trackers())
        devices_.insert(tracker.ident, tracker.device);
    sinceReload_.start();
}

std::optional<int> TrackerHub::deviceOf(const QString& ident, const QString& where) {
    auto found = devices_.constFind(ident);
    if (found == devices_.constEnd() && sinceReload_.elapsed() >= kReloadEveryMs) {
        try {
            reloadTrackers();
        } catch (const std::exception& error) {
            say(QStringLiteral("список приборов не перечитан: ") + QString::fromUtf8(error.what()));
        }
        found = devices_.constFind(ident);
    }
    if (found != devices_.constEnd())
        return *found;
    ++counts_.unknown;
    if (verbose_)
        say(QStringLiteral("%1: неизвестный прибор «%2» отклонён").arg(where, ident.left(64)));
    return std::nullopt;
}

void TrackerHub::store(int device, const QString& where, const std::vector<TrackerPosition>& positions,
                       PositionWriter::Done done) {
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    std::vector<vserver::DeviceMessage> messages;
    messages.reserve(positions.size());
    for (const TrackerPosition& p : positions) {
        const QString why = refusalOf(p, now);
        if (why.isEmpty()) {
            messages.push_back({device, toMessage(p)});
        } else {
            ++counts_.refusedPositions;
            say(QStringLiteral("%1: позиция прибора %2 отклонена: %3").arg(where).arg(device).arg(why));
        }
    }
    if (messages.empty()) {
        done(true);
        return;
    }
    writer_.submit(std::move(messages), std::move(done));
}

void TrackerHub::refused(const QString& where, const QString& why) {
    ++counts_.refusedPackets;
    say(QStringLiteral("%1: отклонено: %2").arg(where, why));
}

void TrackerHub::say(const QString& text) {
    if (logWindow_.elapsed() >= 1000) {
        if (logSkipped_ > 0)
            log_(QStringLiteral("ещё %1 сообщений об отказах за секунду не показаны").arg(logSkipped_));
        logWindow_.start();
        logLines_ = logSkipped_ = 0;
    }
    if (logLines_++ < kLogLinesPerSecond)
        log_(text);
    else
        ++logSkipped_;
}

} // namespace trackers
