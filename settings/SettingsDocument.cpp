#include "SettingsDocument.h"

#include "AtomicFile.h"
#include "DateTimeValue.h"
#include "IntegerText.h"
#include "VantrelError.h"
#include "XmlErrorText.h"

#include <QFile>
#include <QFileInfo>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

const QString SettingsDocument::kNamespace = QStringLiteral("urn:vantrel:player-settings");
const QString SettingsDocument::kFileName = QStringLiteral("VantrelSettings.xml");
const QString SettingsDocument::kDefaultMapPath = QStringLiteral("C:\\Mapvex5\\MAPS\\ecatsub.chart");

namespace {

QString quoted(const QString& text) { return QLatin1Char('"') + text + QLatin1Char('"'); }

QString booleanText(bool value) { return value ? QStringLiteral("true") : QStringLiteral("false"); }

// A definition's attributes in the order the file has always had them; QDom keeps attributes in
// a hash, so its own order changes from save to save.
const QStringList kDefinitionAttributes = {QStringLiteral("name"), QStringLiteral("VisibleList"),
                                           QStringLiteral("VisibleIcon"), QStringLiteral("query"),
                                           QStringLiteral("Icon")};

QStringList attributeOrder(const QDomElement& element) {
    QStringList rest;
    const QDomNamedNodeMap attributes = element.attributes();
    for (int i = 0; i < attributes.count(); ++i)
        if (!kDefinitionAttributes.contains(attributes.item(i).nodeName()))
            rest << attributes.item(i).nodeName();
    rest.sort();
    QStringList order;
    for (const QString& name : kDefinitionAttributes)
        if (element.hasAttribute(name))
            order << name;
    return order + rest;
}

void writeNode(QXmlStreamWriter& writer, const QDomNode& node) {
    switch (node.nodeType()) {
    case QDomNode::ElementNode: {
        const QDomElement element = node.toElement();
        writer.writeStartElement(element.tagName());
        for (const QString& name : attributeOrder(element))
            writer.writeAttribute(name, element.attribute(name));
        for (QDomNode child = node.firstChild(); !child.isNull(); child = child.nextSibling())
            writeNode(writer, child);
        writer.writeEndElement();
        break;
    }
    case QDomNode::TextNode:
        writer.writeCharacters(node.nodeValue());
        break;
    case QDomNode::CDATASectionNode:
        writer.writeCDATA(node.nodeValue());
        break;
    case QDomNode::CommentNode:
        writer.writeComment(node.nodeValue());
        break;
    case QDomNode::ProcessingInstructionNode:
        // The file's own declaration is written anew: the saved bytes are always UTF-8.
        if (node.nodeName() != QLatin1String("xml"))
            writer.writeProcessingInstruction(node.nodeName(), node.nodeValue());
        break;
    default:
        break;
    }
}

} // namespace

QByteArray SettingsDocument::defaultDocument() {
    QStringList lines = {
        QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\" ?>"),
        QStringLiteral("<AppSettings xmlns=%1>").arg(quoted(kNamespace)),
        QStringLiteral("<Settings>"),
        QStringLiteral("<MapPath>") + kDefaultMapPath + QStringLiteral("</MapPath>"),
        QStringLiteral("<LoadKT>false</LoadKT>"),
        QStringLiteral("<LoadIT>false</LoadIT>"),
        QStringLiteral("<GroupID>7</GroupID>"),
        QStringLiteral("<CarID>0</CarID>"),
        QStringLiteral("<DateTimeBegin>06.02.2007 00:00:00</DateTimeBegin>"),
        QStringLiteral("<DateTimeEnd>06.06.2009 00:00:00</DateTimeEnd>"),
        QStringLiteral("<Speed>60x</Speed>"),
        QStringLiteral("<Stops>true</Stops>"),
        QStringLiteral("<Cont>60</Cont>"),
        QStringLiteral("<InfoPointsCount>13</InfoPointsCount>"),
        QStringLiteral("<InfoPoints>"),
    };
    const InfoPointDefinitions& definitions = defaultInfoPointDefinitions();
    for (size_t i = 0; i < definitions.size(); ++i) {
        const TInfoPoints& d = definitions[i];
        lines << QStringLiteral("<InfoPoints%1 name=%2 VisibleList=%3 VisibleIcon=%4 query=%5 "
                                "Icon=%6 />")
                     .arg(i + 1)
                     .arg(quoted(d.name), quoted(booleanText(d.VisibleList)),
                          quoted(booleanText(d.VisibleIcon)), quoted(d.query), quoted(d.Icon));
    }
    lines << QStringLiteral("</InfoPoints>") << QStringLiteral("</Settings>")
          << QStringLiteral("</AppSettings>");
    return QByteArray("\xEF\xBB\xBF") + lines.join(QStringLiteral("\r\n")).toUtf8() + "\r\n";
}

QByteArray SettingsDocument::seedDocument() {
    return QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>"
                          "<AppSettings xmlns=%1><Settings></Settings></AppSettings>\r\n")
        .arg(quoted(kNamespace))
        .toUtf8();
}

void SettingsDocument::loadFile(const QString& path) {
    const QFileInfo info(path);
    if (!info.isFile())
        throw VantrelError(QStringLiteral("Файл настроек %1 не является обычным файлом").arg(path));
    if (info.size() > kLargestFile)
        throw VantrelError(QStringLiteral("Файл настроек %1 больше 1 МБ (%2 байт); он оставлен как есть")
                               .arg(path, QString::number(info.size())));
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw VantrelError(QStringLiteral("Не удалось открыть файл настроек %1: %2")
                               .arg(path, file.errorString()));
    parse(file.read(kLargestFile + 1));
}

void SettingsDocument::checkDepth(const QByteArray& content) {
    // A document nested thousands deep takes the DOM parser minutes: refused at a glance.
    QXmlStreamReader reader(content);
    int depth = 0;
    while (!reader.atEnd()) {
        const QXmlStreamReader::TokenType token = reader.readNext();
        if (token == QXmlStreamReader::StartElement && ++depth > kDeepest)
            throw VantrelError(QStringLiteral("В файле настроек элементы вложены глубже %1 уровней; "
                                              "файл оставлен как есть")
                                   .arg(kDeepest));
        if (token == QXmlStreamReader::EndElement)
            --depth;
    }
}

void SettingsDocument::parse(const QByteArray& content) {
    checkDepth(content);
    QString message;
    int line = 0, column = 0;
    QDomDocument dom;
    if (!dom.setContent(content, false, &message, &line, &column))
        throw VantrelError(QStringLiteral("Ошибка в файле настроек (строка %1, позиция %2): %3")
                               .arg(line)
                               .arg(column)
                               .arg(russianXmlError(message)));
    dom_ = dom;
}

QDomNode SettingsDocument::settings() const {
    const QDomNode first = dom_.documentElement().firstChild();
    if (first.isNull())
        throw VantrelError(QStringLiteral("В файле настроек нет элемента Settings"));
    return first;
}

QString SettingsDocument::text(const QString& name) const {
    const QDomElement element = settings().firstChildElement(name);
    const QString value = element.isNull() ? QString() : element.text();
    if (value.isEmpty())
        throw VantrelError(QStringLiteral("В файле настроек нет значения %1").arg(name));
    return value;
}

bool SettingsDocument::parseBoolean(const QString& text) {
    if (text.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0)
        return true;
    if (text.compare(QLatin1String("false"), Qt::CaseInsensitive) == 0)
        return false;
    bool ok = false;
    const double number = text.trimmed().toDouble(&ok);
    if (!ok)
        throw VantrelError(QLatin1Char('\'') + text +
                           QStringLiteral("' не является логическим значением (true или false)"));
    return number != 0;
}

bool SettingsDocument::boolean(const QString& name) const { return parseBoolean(text(name)); }

bool SettingsDocument::boolean(const QString& name, bool fallback) const {
    return settings().firstChildElement(name).isNull() ? fallback : boolean(name);
}

int SettingsDocument::integer(const QString& name) const { return parseInteger(text(name)); }

double SettingsDocument::dateTime(const QString& name) const {
    return datetime::parseText(text(name));
}

int SettingsDocument::speed(const QString& name) const {
    QString digits = text(name);
    digits.remove(QLatin1Char('x'), Qt::CaseInsensitive);
    return parseInteger(digits);
}

QDomElement SettingsDocument::infoPoints() {
    QDomNode parent = settings();
    QDomElement element = parent.firstChildElement(QStringLiteral("InfoPoints"));
    if (element.isNull())
        element = parent.appendChild(dom_.createElement(QStringLiteral("InfoPoints"))).toElement();
    return element;
}

int SettingsDocument::infoPointsChildCount() { return infoPoints().childNodes().count(); }

TInfoPoints SettingsDocument::definition(int number) {
    QDomElement container = infoPoints();
    const QString name = QStringLiteral("InfoPoints%1").arg(number);
    QDomElement element = container.firstChildElement(name);
    if (element.isNull())
        element = container.appendChild(dom_.createElement(name)).toElement();
    const auto attribute = [&](const char* key) {
        const QString attributeName = QString::fromLatin1(key);
        if (!element.hasAttribute(attributeName))
            throw VantrelError(QStringLiteral("У элемента %1 нет атрибута %2")
                                   .arg(name, attributeName));
        return element.attribute(attributeName);
    };
    TInfoPoints result;
    result.name = attribute("name");
    result.VisibleList = parseBoolean(attribute("VisibleList"));
    result.VisibleIcon = parseBoolean(attribute("VisibleIcon"));
    result.query = attribute("query");
    result.Icon = attribute("Icon");
    return result;
}

void SettingsDocument::write(const SettingsValues& values, bool keepInfoPoints) {
    QDomNode parent = settings();
    QDomNode keptCount, keptPoints;
    if (keepInfoPoints) {
        keptPoints = parent.firstChildElement(QStringLiteral("InfoPoints")).cloneNode(true);
        keptCount = parent.firstChildElement(QStringLiteral("InfoPointsCount")).cloneNode(true);
    }
    while (parent.hasChildNodes())
        parent.removeChild(parent.firstChild());

    const auto append = [&](const QString& name, const QString& value) {
        QDomElement element = dom_.createElement(name);
        element.appendChild(dom_.createTextNode(value));
        parent.appendChild(element);
    };
    append(QStringLiteral("MapPath"), values.mapPath);
    append(QStringLiteral("LoadKT"), booleanText(values.loadKT));
    append(QStringLiteral("LoadIT"), booleanText(values.loadIT));
    append(QStringLiteral("GroupID"), QString::number(values.groupId));
    append(QStringLiteral("CarID"), QString::number(values.carId));
    append(QStringLiteral("DateTimeBegin"), datetime::formatText(values.periodBegin));
    append(QStringLiteral("DateTimeEnd"), datetime::formatText(values.periodEnd));
    append(QStringLiteral("Speed"), values.speed);
    append(QStringLiteral("Stops"), booleanText(values.stops));
    append(QStringLiteral("Cont"), values.cont);
    append(QStringLiteral("ChartShown"), booleanText(values.chartShown));

    if (!keptPoints.isNull()) {
        if (!keptCount.isNull())
            parent.appendChild(keptCount);
        parent.appendChild(keptPoints);
        return;
    }
    append(QStringLiteral("InfoPointsCount"), QString::number(values.infoPointsCount));
    QDomElement container = dom_.createElement(QStringLiteral("InfoPoints"));
    parent.appendChild(container);
    for (size_t i = 0; i < values.definitions.size(); ++i) {
        const TInfoPoints& d = values.definitions[i];
        QDomElement element = dom_.createElement(QStringLiteral("InfoPoints%1").arg(i + 1));
        element.setAttribute(QStringLiteral("name"), d.name);
        element.setAttribute(QStringLiteral("VisibleList"), booleanText(d.VisibleList));
        element.setAttribute(QStringLiteral("VisibleIcon"), booleanText(d.VisibleIcon));
        element.setAttribute(QStringLiteral("query"), d.query);
        element.setAttribute(QStringLiteral("Icon"), d.Icon);
        container.appendChild(element);
    }
}

QByteArray SettingsDocument::toBytes() const {
    QByteArray bytes;
    QXmlStreamWriter writer(&bytes);
    writer.setAutoFormatting(true);
    writer.setAutoFormattingIndent(1);
    writer.writeStartDocument(QStringLiteral("1.0"), true);
    for (QDomNode node = dom_.firstChild(); !node.isNull(); node = node.nextSibling())
        writeNode(writer, node);
    writer.writeEndDocument();
    return bytes;
}

void SettingsDocument::saveFile(const QString& path, const QByteArray& content) {
    try {
        AtomicFile::save(path, content);
    } catch (const VantrelError& error) {
        throw VantrelError(QStringLiteral("Настройки не сохранены. ") + error.text());
    }
}
