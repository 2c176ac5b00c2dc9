#include "DateTimeValue.h"
#include "MessageSink.h"
#include "TForm1.h"
#include "TMapvexControl.h"
#include "TVantrelAutomation.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Плеер Vantrel"));

    BoxMessageSink messages;
    PlayerEnvironment environment;
    environment.createServer = [&application]() -> IVantrelAutomation* {
        return new TVantrelAutomation(&application);
    };
    environment.createMap = [](QWidget* parent) {
        auto* control = new TMapvexControl(parent);
        return PlayerEnvironment::MapParts{control, control};
    };
    environment.messages = &messages;
    environment.now = [] { return datetime::fromQDateTime(QDateTime::currentDateTimeUtc()); };
    environment.settingsDirectory = QApplication::applicationDirPath();

    TForm1 form(environment);
    form.showMaximized();
    return QApplication::exec();
}
