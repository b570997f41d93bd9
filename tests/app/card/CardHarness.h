#pragma once

// A CardModel on the virtual camera through the real camera service and link, with its own
// geo store, ledger, preference store and destination, on the virtual clock. waitUntil and
// settle run until something holds (VirtualCameraRig::waitFor).
#include "app/card/CardModel.h"
#include "app/geo/GeoStore.h"
#include "camera/service/CameraFileSource.h"
#include "kit/async/WorkQueue.h"
#include "support/VirtualCameraRig.h"

#include <QSettings>

#include <map>
#include <memory>
#include <set>

namespace pexil::testing {

// Holds the answers for the files named in `held` until release(): the camera has already
// answered, the model just has not heard yet. Main thread only (the service answers there).
class AnswerGate {
public:
    struct Held {
        CardFileSource::Done done;
        std::optional<Bytes> data;
        std::optional<TransportError> error;
    };

    void hold(const QString& name) { held_.insert(name); }
    void release(const QString& name) {
        held_.erase(name);
        auto waiting = std::move(waiting_[name]);
        waiting_.erase(name);
        for (Held& h : waiting) {
            ++delivered_[name];
            h.done(std::move(h.data), std::move(h.error));
        }
    }
    // Answers handed to the model for this file so far.
    int delivered(const QString& name) const {
        const auto it = delivered_.find(name);
        return it == delivered_.end() ? 0 : it->second;
    }
    std::size_t waiting(const QString& name) const {
        const auto it = waiting_.find(name);
        return it == waiting_.end() ? 0 : it->second.size();
    }
    CardFileSource::Done wrap(const QString& name, CardFileSource::Done done) {
        return [this, name, done](std::optional<Bytes> data, std::optional<TransportError> error) {
            if (held_.count(name) == 0) {
                ++delivered_[name];
                return done(std::move(data), std::move(error));
            }
            waiting_[name].push_back({done, std::move(data), std::move(error)});
        };
    }

private:
    std::set<QString> held_;
    std::map<QString, std::vector<Held>> waiting_;
    std::map<QString, int> delivered_;
};

class GatedSource final : public CardFileSource {
public:
    GatedSource(std::shared_ptr<CardFileSource> inner, QString name, AnswerGate& gate)
        : inner_(std::move(inner)), name_(std::move(name)), gate_(gate) {}
    void requestReadData(std::int64_t offset, std::int64_t length, Done done) override {
        inner_->requestReadData(offset, length, gate_.wrap(name_, std::move(done)));
    }
    void requestThumbnail(int maxPixel, Done done) override {
        inner_->requestThumbnail(maxPixel, gate_.wrap(name_, std::move(done)));
    }

private:
    std::shared_ptr<CardFileSource> inner_;
    QString name_;
    AnswerGate& gate_;
};

// Counts emissions of one signal (QSignalSpy without QtTest).
struct Emissions {
    template <class Signal>
    Emissions(const CardModel* model, Signal signal) {
        QObject::connect(model, signal, [this] { ++count; });
    }
    int count = 0;
};

class CardHarness : public VirtualCameraRig {
public:
    CardHarness() {
        std::vector<std::unique_ptr<camera::DeviceSource>> sources;
        sources.push_back(takeSource());
        link = std::make_unique<CameraLink>(rt, *log, std::move(sources), nullptr);
        link->destination = destination();
        QObject::connect(link.get(), &CameraLink::cardChanged, [this] {
            if (card) card->refresh();
        });
        GeoStore::Options geoOptions;
        geoOptions.folder = support();
        geoOptions.receiver.advertise = false;
        geoOptions.receiver.address = QHostAddress::LocalHost;
        geo = std::make_unique<GeoStore>(rt.clock(), log->writer(), geoOptions);
        settings = std::make_unique<QSettings>(dir.filePath(QStringLiteral("prefs.ini")),
                                               QSettings::IniFormat);
        startModel();
        syncWall();
    }
    // The model before the link it follows.
    ~CardHarness() {
        card.reset();
        link.reset();
    }

    QString destination() const { return dir.filePath(QStringLiteral("dest")); }
    QString support() const { return dir.filePath(QStringLiteral("support")); }

    // The ledger and the model as the application makes them at start-up.
    void startModel() {
        ledger = std::make_unique<ImportLedger>(support(), log->writer());
        CardModel::Options options;
        options.decodeQueue = &decode;
        options.writeQueue = &writes;
        card = std::make_unique<CardModel>(rt, *log, *link, *geo, *ledger, *settings, options);
        card->destination = [this](const QDateTime&) { return destination(); };
        card->serial = [] { return QStringLiteral("3000123"); };
        card->fileSource = [this](const CameraLink::CameraFilePtr& file) {
            return std::make_shared<GatedSource>(std::make_shared<camera::CameraFileSource>(file),
                                                 file->name(), gate);
        };
        QObject::connect(geo.get(), &GeoStore::recordChanged, card.get(), &CardModel::geoChanged);
    }
    // The application quits and starts again: a new ledger read from disk and a new model.
    void restartModel() {
        card.reset();
        ledger.reset();
        startModel();
    }

    camera::VirtualCamera::Options cameraOptions(int photos) {
        auto options = VirtualCameraRig::cameraOptions();
        options.photos = photos;
        return options;
    }

    // A camera with `photos` pictures, connected, its catalogue settled and in the model.
    void connectSettled(int photos,
                        const std::function<void(camera::VirtualCamera::Options&)>& adjust = {}) {
        auto options = cameraOptions(photos);
        if (adjust) adjust(options);
        makeCamera(options);
        plug();
        link->open();
        ASSERT_TRUE(settle([&] {
            return link->cardSettled() && !card->loading() &&
                   card->items().size() == static_cast<std::size_t>(photos);
        }));
    }

    bool waitUntil(const std::function<bool()>& done) { return waitFor(done); }
    // Lets both clocks run until `done`: a little real time for the camera's answers, then
    // 0.05 s of virtual time, up to `seconds` of virtual time.
    bool settle(const std::function<bool()>& done, double seconds = 60) {
        if (onVirtualTime()) return waitFor(done, seconds);
        const double until = rt.clock().monotonic().count() + seconds;
        while (rt.clock().monotonic().count() < until) {
            if (rt.waitUntil([&] { return done(); }, std::chrono::milliseconds(5))) return true;
            rt.runFor(async::Seconds(0.05));
            syncWall();
        }
        return done();
    }
    // Runs what answers already delivered set off, decoding included, without moving time.
    void drain() {
        rt.runReady();
        decode.drain();
        rt.runReady();
    }

    // Ids of the items, in list order.
    QStringList ids() const {
        QStringList out;
        for (const CardItem& item : card->items()) out << item.id;
        return out;
    }
    QString idOf(const QString& name) const {
        for (const CardItem& item : card->items())
            if (item.name == name) return item.id;
        return {};
    }

    async::WorkQueue decode{QStringLiteral("test.card.decode"), 2};
    async::WorkQueue writes{QStringLiteral("test.card.write")};
    AnswerGate gate;
    std::unique_ptr<CameraLink> link;
    std::unique_ptr<GeoStore> geo;
    std::unique_ptr<QSettings> settings;
    std::unique_ptr<ImportLedger> ledger;
    std::unique_ptr<CardModel> card;
};

}  // namespace pexil::testing
