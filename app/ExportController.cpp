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
#include <QFileInfo>
#include <QImageWriter>
#include <QMenu>
#include <QPrintDialog>
#include <QPrinter>
#include <QProcess>
#include <QProgressDialog>
#include <QStandardPaths>
#include <QThread>
#include <QTimeEdit>
#include <QToolButton>

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
        const QString path = askPath(QStringLiteral("Лист рейсов"), QStringLiteral("pdf"),
                                     QStringLiteral("PDF (*.pdf)"));
        if (!path.isEmpty())
            saveSheet(path);
    });
    item(QStringLiteral("Печать листа рейсов…"), [this] { printSheet(); });
    button_->setMenu(menu);
}

QString ExportController::askPath(const QString& title, const QString& suffix,
                                  const QString& filter) {
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    const QString name = QStringLiteral("%1 рейс %2.%3")
                             .arg(ui.cmbCarNum->currentText())
                             .arg(s.selection.CurrentTrip)
                             .arg(suffix);
    QString path =
        QFileDialog::getSaveFileName(&window_, title, QDir(folder).filePath(name), filter);
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
    // The server's own export: the same computation, written by GDAL, off the window's thread.
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

std::function<TripSheet()> ExportController::sheetGathering() {
    const int group = ui.cmbGroupName->currentIndex();
    if (s.track.PointCount < 1 || s.selection.CurrentTrip < 1 || group < 0 ||
        group >= s.selection.GroupIds.size())
        throw VantrelError(QStringLiteral("Нет рейса для листа: выберите машину и рейс"));
    if (!sheetServer_)
        throw VantrelError(QStringLiteral("Лист рейсов недоступен: нет хранилища"));
    const auto [begin, end] = shownPeriod();
    tripsheet::Request request;
    request.group = s.selection.GroupIds[group];
    request.device = ui.cmbCarDevice->currentText().toInt();
    request.from = datetime::formatText(begin);
    request.to = datetime::formatText(end);
    request.trip = s.selection.CurrentTrip;
    // Computed again on a server of the sheet's own: the window's server keeps its cursors.
    return [factory = sheetServer_, store = s.storePath(), definitions = s.definitions, request] {
        const std::unique_ptr<IVantrelAutomation> server = factory(store);
        return tripsheet::gather(*server, definitions, request,
                                 [&server] { tripsheet::waitForComputation(*server); });
    };
}

void ExportController::offTheWindowsThread(const QString& title,
                                           const std::function<void()>& work) {
    std::exception_ptr failure;
    std::unique_ptr<QThread> thread(QThread::create([&work, &failure] {
        try {
            work();
        } catch (...) {
            failure = std::current_exception();
        }
    }));
    QProgressDialog progress(title, QString(), 0, 0, &window_);
    progress.setCancelButton(nullptr);
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(300);
    QEventLoop loop;
    connect(thread.get(), &QThread::finished, &loop, &QEventLoop::quit);
    thread->start();
    loop.exec();
    thread->wait();
    progress.reset();
    if (failure)
        std::rethrow_exception(failure);
}

void ExportController::saveSheet(const QString& path) {
    // Computed and written on a thread of its own: the window goes on meanwhile.
    offTheWindowsThread(QStringLiteral("Лист рейсов в %1…").arg(QFileInfo(path).fileName()),
                        [gather = sheetGathering(), path, map = s.MapPath] {
                            tripsheet::writePdf(gather(), path, map, TMapvexControl::mapsFolders());
                        });
}

void ExportController::printSheet() {
    std::optional<TripSheet> sheet;
    offTheWindowsThread(QStringLiteral("Лист рейсов…"),
                        [gather = sheetGathering(), &sheet] { sheet = gather(); });
    QPrinter printer(QPrinter::HighResolution);
    printer.setDocName(QStringLiteral("Рейсы машины %1").arg(sheet->car));
    QPrintDialog dialog(&printer, &window_);
    if (dialog.exec() != QDialog::Accepted)
        return;
    BaseMap baseMap;
    baseMap.load(s.MapPath, TMapvexControl::mapsFolders());
    tripsheet::paint(*sheet, printer, baseMap);
}
