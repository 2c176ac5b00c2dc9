#include "ExportController.h"

#include "AtomicFile.h"
#include "DateTimeValue.h"
#include "ErrorReporter.h"
#include "IVantrelAutomation.h"
#include "MessageSink.h"
#include "PlayerSession.h"
#include "TMapvexControl.h"
#include "TripSheet.h"
#include "VantrelError.h"
#include "WindowControls.h"

#include <QBuffer>
#include <QComboBox>
#include <QCoreApplication>
#include <QDateEdit>
#include <QDir>
#include <QEventLoop>
#include <QFileDialog>
#include <QImageWriter>
#include <QMenu>
#include <QPrintDialog>
#include <QPrinter>
#include <QProcess>
#include <QProgressDialog>
#include <QStandardPaths>
#include <QTimeEdit>
#include <QThread>
#include <QTimer>
#include <QToolButton>
#include <atomic>

ExportController::ExportController(PlayerSession& session, WindowControls& ui,
                                   ErrorReporter& errors, QWidget& window,
                                   SheetServerFactory sheetServer)
    : QObject(&window), s(session), ui(ui), errors_(errors), window_(window),
      sheetServer_(std::move(sheetServer)) {
    if (!ui.MapvexCtrl)
        return;
    button_ = new QToolButton(ui.MapvexCtrl);
    button_->setObjectName(QStringLiteral("btnExport"));
    button_->setText(QStringLiteral("Экспорт"));
    button_->setToolTip(QStringLiteral("Рейс в файл, вид карты, лист рейсов"));
    button_->setPopupMode(QToolButton::InstantPopup);
    auto* menu = new QMenu(button_);
    const auto item = [&](const QString& text, std::function<void()> work) {
        connect(menu->addAction(text), &QAction::triggered, this,
                [this, work] { errors_.guarded(work); });
    };
    item(QStringLiteral("Текущий рейс в GPX…"), [this] { exportTrip(QStringLiteral("gpx")); });
    item(QStringLiteral("Текущий рейс в KML…"), [this] { exportTrip(QStringLiteral("kml")); });
    item(QStringLiteral("Текущий рейс в GeoJSON…"),
         [this] { exportTrip(QStringLiteral("geojson")); });
    menu->addSeparator();
    item(QStringLiteral("Вид карты в PNG…"), [this] {
        const QString path = askPath(QStringLiteral("Вид карты"), QStringLiteral("png"),
                                     QStringLiteral("PNG (*.png)"));
        if (!path.isEmpty())
            saveMapImage(path);
    });
    item(QStringLiteral("Лист рейсов в PDF…"), [this] {
        // The orientation is chosen with the file's type, in the save dialog itself.
        const QString landscape = QStringLiteral("PDF, A4 альбомная (*.pdf)");
        QString chosen;
        const QString path = askPath(QStringLiteral("Лист рейсов"), QStringLiteral("pdf"),
                                     QStringLiteral("PDF, A4 книжная (*.pdf);;") + landscape, &chosen);
        if (!path.isEmpty())
            saveSheet(path, chosen == landscape);
    });
    item(QStringLiteral("Печать листа рейсов…"), [this] { printSheet(); });
    button_->setMenu(menu);
}

QString ExportController::askPath(const QString& title, const QString& suffix,
                                  const QString& filter, QString* chosenFilter) {
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    const QString name = QStringLiteral("%1 рейс %2.%3")
                             .arg(ui.cmbCarNum->currentText())
                             .arg(s.selection.CurrentTrip)
                             .arg(suffix);
    QString path =
        QFileDialog::getSaveFileName(&window_, title, QDir(folder).filePath(name), filter, chosenFilter);
    if (!path.isEmpty() && QFileInfo(path).suffix().isEmpty())
        path += QLatin1Char('.') + suffix;
    return path;
}

void ExportController::exportTrip(const QString& format) {
    if (s.track.PointCount < 1 || s.selection.CurrentTrip < 1)
        throw VantrelError(QStringLiteral("Нет рейса для экспорта: выберите машину и рейс"));
    const int group = ui.cmbGroupName->currentIndex();
    if (group < 0 || group >= s.selection.GroupIds.size())
        throw VantrelError(QStringLiteral("Не выбрана группа"));
    const QString path = askPath(QStringLiteral("Экспорт рейса"), format,
                                 format.toUpper() + QStringLiteral(" (*.") + format + ')');
    if (path.isEmpty())
        return;
    const auto [begin, end] = shownPeriod();
    // The server's own export: the same computation, streamed to the file, off the window's thread.
    QStringList arguments{QStringLiteral("export"), QStringLiteral("--group"), s.selection.GroupIds[group],
                          QStringLiteral("--device"), ui.cmbCarDevice->currentText(), QStringLiteral("--from"),
                          datetime::formatText(begin), QStringLiteral("--to"), datetime::formatText(end),
                          QStringLiteral("--trip"), QString::number(s.selection.CurrentTrip),
                          QStringLiteral("--format"), format, path};
    // On the store of the window's server, wherever it was started to keep it.
    if (const QString store = s.storePath(); !store.isEmpty())
        arguments << QStringLiteral("--db") << store;
    QProcess process;
    process.start(QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("vantrel-server")), arguments);
    QProgressDialog progress(QStringLiteral("Экспорт рейса в %1…").arg(QFileInfo(path).fileName()),
                             QStringLiteral("Отмена"), 0, 0, &window_);
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(300);
    QEventLoop loop;
    connect(&process, &QProcess::finished, &loop, &QEventLoop::quit);
    connect(&process, &QProcess::errorOccurred, &loop, &QEventLoop::quit);
    connect(&progress, &QProgressDialog::canceled, &loop, [&process, &loop] {
        process.kill(); // the server writes beside the file and renames at the end: nothing is left
        loop.quit();
    });
    if (process.state() != QProcess::NotRunning)
        loop.exec();
    progress.reset();
    if (process.state() != QProcess::NotRunning)
        process.waitForFinished(5000);
    if (progress.wasCanceled())
        return;
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        const QString said = QString::fromUtf8(process.readAllStandardError())
                                 .trimmed()
                                 .section(QLatin1Char('\n'), -1);
        throw VantrelError(QStringLiteral("Рейс не записан: ") +
                           (said.isEmpty() ? process.errorString()
                                           : said.section(QStringLiteral("vantrel-server: "), -1)));
    }
}

void ExportController::saveMapImage(const QString& path) {
    if (!ui.MapvexCtrl)
        throw VantrelError(QStringLiteral("Нет карты"));
    AtomicFile::checkTarget(path);
    QBuffer png;
    png.open(QIODevice::WriteOnly);
    if (!QImageWriter(&png, "png").write(ui.MapvexCtrl->grab().toImage()))
        throw VantrelError(QStringLiteral("Не удалось записать файл %1: картинка карты не сложилась в PNG").arg(path));
    AtomicFile::save(path, png.data());
}

PlayerSession::Period ExportController::shownPeriod() const {
    // The period the trips on screen were computed for; a computation followed from elsewhere
    // tells none, and then the pickers' period is the best there is.
    if (const auto computed = s.computedPeriod())
        return *computed;
    return {datetime::fromDateAndTime(ui.DateBegin->date(), ui.TimeBegin->time()),
            datetime::fromDateAndTime(ui.DateEnd->date(), ui.TimeEnd->time())};
}

struct ExportController::SheetRequest {
    tripsheet::Request request;
    QString store, mapPath;
};

ExportController::SheetRequest ExportController::currentRequest() const {
    const int group = ui.cmbGroupName->currentIndex();
    if (s.track.PointCount < 1 || s.selection.CurrentTrip < 1 || group < 0 ||
        group >= s.selection.GroupIds.size())
        throw VantrelError(QStringLiteral("Нет рейса для листа: выберите машину и рейс"));
    if (!sheetServer_)
        throw VantrelError(QStringLiteral("Лист рейсов недоступен: нет хранилища"));
    const auto [begin, end] = shownPeriod();
    SheetRequest sheet;
    sheet.request.group = s.selection.GroupIds[group];
    sheet.request.device = ui.cmbCarDevice->currentText().toInt();
    sheet.request.from = datetime::formatText(begin);
    sheet.request.to = datetime::formatText(end);
    sheet.request.trip = s.selection.CurrentTrip;
    sheet.store = s.storePath();
    sheet.mapPath = s.MapPath;
    return sheet;
}

void ExportController::saveSheet(const QString& path, bool landscape) {
    const SheetRequest job = currentRequest();
    const InfoPointDefinitions definitions = s.definitions;
    const QStringList mapFolders = TMapvexControl::mapsFolders();
    tripsheet::PageOptions options;
    options.landscape = landscape;
    options.author = tripsheet::operatorName();
    std::atomic<bool> cancel = false, writing = false;
    std::atomic<int> done = 0, total = 0;
    std::exception_ptr failure;
    // Computed on a server of the sheet's own, made and used on the worker's thread: the window's
    // server keeps its cursors, and the window answers while a long period is laid out.
    std::unique_ptr<QThread> worker(QThread::create([&] {
        try {
            const std::unique_ptr<IVantrelAutomation> server = sheetServer_(job.store);
            const tripsheet::Progress progress = [&](int step, int steps) {
                done = step;
                total = steps;
                return !cancel;
            };
            const TripSheet sheet = tripsheet::gather(
                *server, definitions, job.request, [&server] { tripsheet::waitForComputation(*server); }, progress);
            writing = true;
            tripsheet::writePdf(
                sheet, path, job.mapPath, [&](int trip) { return tripsheet::readTrip(*server, definitions, trip); },
                options, mapFolders, progress);
        } catch (...) {
            failure = std::current_exception();
        }
    }));
    QProgressDialog progress(QStringLiteral("Расчёт рейсов для листа…"), QStringLiteral("Отмена"), 0, 0, &window_);
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(300);
    QEventLoop loop;
    connect(worker.get(), &QThread::finished, &loop, &QEventLoop::quit);
    connect(&progress, &QProgressDialog::canceled, &loop, [&cancel] { cancel = true; });
    QTimer ticks;
    connect(&ticks, &QTimer::timeout, &progress, [&] {
        if (writing)
            progress.setLabelText(QStringLiteral("Лист рейсов: страница рейса %1 из %2…").arg(done + 1).arg(total));
        progress.setMaximum(total);
        progress.setValue(done);
    });
    ticks.start(100);
    worker->start();
    if (!worker->isFinished())
        loop.exec();
    worker->wait();
    progress.reset();
    if (failure && !cancel)
        std::rethrow_exception(failure);
}

void ExportController::printSheet() {
    const SheetRequest job = currentRequest();
    const std::unique_ptr<IVantrelAutomation> server = sheetServer_(job.store);
    const TripSheet sheet = tripsheet::gather(*server, s.definitions, job.request,
                                              [&server] { tripsheet::waitForComputation(*server); });
    QPrinter printer(QPrinter::HighResolution);
    printer.setDocName(QStringLiteral("Рейсы машины %1").arg(sheet.car));
    QPrintDialog dialog(&printer, &window_);
    if (dialog.exec() != QDialog::Accepted)
        return;
    BaseMap baseMap;
    baseMap.load(job.mapPath, TMapvexControl::mapsFolders());
    tripsheet::paint(sheet, printer, baseMap,
                     [&](int trip) { return tripsheet::readTrip(*server, s.definitions, trip); });
}
