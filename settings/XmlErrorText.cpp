#include "XmlErrorText.h"

#include <QRegularExpression>
#include <utility>

QString russianXmlError(const QString& message) {
    static const std::pair<QRegularExpression, QString> known[] = {
        {QRegularExpression(QStringLiteral("^Premature end of document")),
         QStringLiteral("файл обрывается: не все элементы закрыты (файл пуст или обрезан)")},
        {QRegularExpression(QStringLiteral("^Opening and ending tag mismatch")),
         QStringLiteral("закрывающий тег не совпадает с открытым элементом")},
        {QRegularExpression(QStringLiteral("^Expected '(.*)', but got '(.*)'")),
         QStringLiteral("ожидалось «\\1», а встретилось «\\2»")},
        {QRegularExpression(QStringLiteral("^Unexpected '(.*)'")), QStringLiteral("неожиданное «\\1»")},
        {QRegularExpression(QStringLiteral("^Invalid XML character")), QStringLiteral("недопустимый в XML знак")},
        {QRegularExpression(QStringLiteral("^Start tag expected")), QStringLiteral("ожидался открывающий тег")},
        {QRegularExpression(QStringLiteral("^Extra content at end of document")),
         QStringLiteral("после корневого элемента ещё есть разметка")},
        {QRegularExpression(QStringLiteral("^Encountered incorrectly encoded content")),
         QStringLiteral("содержимое не соответствует кодировке файла")},
        {QRegularExpression(QStringLiteral("^Invalid XML name")), QStringLiteral("недопустимое имя элемента или атрибута")},
        {QRegularExpression(QStringLiteral("^Attribute redefined")), QStringLiteral("атрибут повторён в одном элементе")},
        {QRegularExpression(QStringLiteral("^Entity '(.*)' not declared")), QStringLiteral("неизвестная сущность «&\\1;»")},
        {QRegularExpression(QStringLiteral("^Namespace prefix '(.*)' not declared")),
         QStringLiteral("префикс пространства имён «\\1» не объявлен")},
        {QRegularExpression(QStringLiteral("^(.*) is an invalid encoding name")),
         QStringLiteral("«\\1» не является именем кодировки")},
        {QRegularExpression(QStringLiteral("^Encoding (.*) is unsupported")), QStringLiteral("кодировка \\1 не поддерживается")},
        {QRegularExpression(QStringLiteral("^Sequence ']]>' not allowed in content")),
         QStringLiteral("последовательность «]]>» недопустима в тексте")},
    };
    for (const auto& [pattern, russian] : known) {
        const QRegularExpressionMatch match = pattern.match(message);
        if (!match.hasMatch())
            continue;
        QString text = russian;
        for (int i = 1; i <= match.lastCapturedIndex(); ++i)
            text.replace(QStringLiteral("\\%1").arg(i), match.captured(i));
        return text;
    }
    // Qt's own Russian translation, where the program installed it, is said as it is.
    if (message.contains(QRegularExpression(QStringLiteral("[А-Яа-яЁё]"))))
        return message;
    return QStringLiteral("ошибка разбора XML (сообщение Qt: %1)").arg(message);
}
