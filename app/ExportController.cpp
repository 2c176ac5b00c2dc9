#include "ExportController.h"

#include "AtomicFile.h"
#include "DateTimeValue.h"
#include "IVantrelAutomation.h"
#include "MessageSink.h"
#include "TForm1.h"
#include "TMapvexControl.h"
#include "TripSheet.h"
#include "VantrelError.h"

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
#include <QToolButton>

ExportController::ExportController(TForm1& form) : QObject(&form), f(form) {
    if (!f.MapvexCtrl)
        return;
    button_ = new QToolButton(f.MapvexCtrl);
    button_->setObjectName(QStringLiteral("btnExport"));
    button_->setText(QStringLiteral("Экспорт"));
    button_->setToolTip(QStringLiteral("Рейс в файл, вид карты, лист рейсов"));
    button_->setPopupMode(QToolButton::InstantPopup);
    auto* menu = new QMenu(button_);
    const auto item = [&](const QString& text, std::function<void()> work) {
        connect(menu->addAction(text), &QAction::triggered, this, [this, work] { f.guarded(work); });
    };
    item(QStringLiteral("Текущий рейс в GPX…"), [this] { exportTrip(QStringLiteral("gpx")); });
    item(QStringLiteral("Текущий рейс в KML…"), [this] { exportTrip(QStringLiteral("kml")); });
    item(QStringLiteral("Текущий рейс в GeoJSON…"), [this] { exportTrip(QStringLiteral("geojson")); });
    menu->addSeparator();
    item(QStringLiteral("Вид карты в PNG…"), [this] {
        const QString path = askPath(QStringLiteral("Вид карты"), QStringLiteral("png"), QStringLiteral("PNG (*.png)"));
        if (!path.isEmpty())
            saveMapImage(path);
    });
    item(QStringLiteral("Лист рейсов в PDF…"), [this] {
        const QString path = askPath(QStringLiteral("Лист рейсов"), QStringLiteral("pdf"), QStringLiteral("PDF (*.pdf)"));
        if (!path.isEmpty())
            saveSheet(path);
    });
    item(QStringLiteral("Печать листа рейсов…"), [this] { printSheet(); });
    button_->setMenu(menu);
}

QString ExportController::askPath(const QString& title, const QString& suffix, const QString& filter) {
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    const QString name = QStringLiteral("%1 рейс %2.%3")
                             .arg(f.cmbCarNum->currentText())
                             .arg(f.selectionState.CurrentTrip)
                             .arg(suffix);
    QString path = QFileDialog::getSaveFileName(&f, title, QDir(folder).filePath(name), filter);
    if (!path.isEmpty() && QFileInfo(path).suffix().isEmpty())
        path += QLatin1Char('.') + suffix;
    return path;
}

void ExportController::exportTrip(const QString& format) {
    if (f.track.PointCount < 1 || f.selectionState.CurrentTrip < 1)
        throw VantrelError(QStringLiteral("Нет рейса для экспорта: выберите машину и рейс"));
    const int group = f.cmbGroupName->currentIndex();
    if (group < 0 || group >= f.selectionState.GroupIds.size())
        throw VantrelError(QStringLiteral("Не выбрана группа"));
    const QString path = askPath(QStringLiteral("Экспорт рейса"), format, format.toUpper() + QStringLiteral(" (*.") + format + ')');
    if (path.isEmpty())
        return;
    const double begin = datetime::fromDateAndTime(f.DateBegin->date(), f.TimeBegin->time());
    const double end = datetime::fromDateAndTime(f.DateEnd->date(), f.TimeEnd->time());
    // The server's own export: the same computation, written by GDAL, off the window's thread.
    QProcess process;
    process.start(QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("vantrel-server")),
                  {QStringLiteral("export"), QStringLiteral("--group"), f.selectionState.GroupIds[group],
                   QStringLiteral("--device"), f.cmbCarDevice->currentText(), QStringLiteral("--from"),
                   datetime::formatText(begin), QStringLiteral("--to"), datetime::formatText(end), QStringLiteral("--trip"),
                   QString::number(f.selectionState.CurrentTrip), QStringLiteral("--format"), format, path});
    QProgressDialog progress(QStringLiteral("Экспорт рейса в %1…").arg(QFileInfo(path).fileName()),
                             QStringLiteral("Отмена"), 0, 0, &f);
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
        const QString said = QString::fromUtf8(process.readAllStandardError()).trimmed().section(QLatin1Char('\n'), -1);
        throw VantrelError(QStringLiteral("Рейс не записан: ") +
                           (said.isEmpty() ? process.errorString() : said.section(QStringLiteral("vantrel-server: "), -1)));
    }
}

void ExportController::saveMapImage(const QString& path) {
    if (!f.MapvexCtrl)
        throw VantrelError(QStringLiteral("Нет карты"));
    AtomicFile::checkTarget(path);
    QBuffer png;
    png.open(QIODevice::WriteOnly);
    if (!QImageWriter(&png, "png").write(f.MapvexCtrl->grab().toImage()))
        throw VantrelError(QStringLiteral("Не удалось записать файл %1: картинка карты не сложилась в PNG").arg(path));
    AtomicFile::save(path, png.data());
}

TripSheet ExportController::currentSheet() {
    if (!f.server || f.track.PointCount < 1 || f.selectionState.CurrentTrip < 1)
        throw VantrelError(QStringLiteral("Нет рейса для листа: выберите машину и рейс"));
    TripSheet sheet;
    sheet.group = f.cmbGroupName->currentText();
    sheet.car = f.cmbCarName->currentText();
    sheet.number = f.cmbCarNum->currentText();
    sheet.device = f.cmbCarDevice->currentText().toInt();
    sheet.from = datetime::formatText(datetime::fromDateAndTime(f.DateBegin->date(), f.TimeBegin->time()));
    sheet.to = datetime::formatText(datetime::fromDateAndTime(f.DateEnd->date(), f.TimeEnd->time()));
    tripsheet::readResult(*f.server, f.definitions, f.selectionState.CurrentTrip, sheet);
    f.server->SetTripIndex(f.selectionState.CurrentTrip); // the window's trip stays current
    return sheet;
}

void ExportController::saveSheet(const QString& path) {
    tripsheet::writePdf(currentSheet(), path, f.MapPath, TMapvexControl::mapsFolders());
}

void ExportController::printSheet() {
    const TripSheet sheet = currentSheet();
    QPrinter printer(QPrinter::HighResolution);
    printer.setDocName(QStringLiteral("Рейсы машины %1").arg(sheet.car));
    QPrintDialog dialog(&printer, &f);
    if (dialog.exec() != QDialog::Accepted)
        return;
    BaseMap baseMap;
    baseMap.load(f.MapPath, TMapvexControl::mapsFolders());
    tripsheet::paint(sheet, printer, baseMap);
}
