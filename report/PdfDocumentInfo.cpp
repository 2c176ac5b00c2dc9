#include "PdfDocumentInfo.h"

namespace {

// A PDF text string: UTF-16BE with its byte order mark, in hexadecimal.
QByteArray pdfText(const QString& text) {
    QByteArray bytes("<FEFF");
    for (const QChar c : text)
        bytes += QByteArray::number(c.unicode() | 0x10000, 16).mid(1).toUpper();
    return bytes + '>';
}

QByteArray xml(const QString& text) {
    return text.toHtmlEscaped().toUtf8();
}

} // namespace

QByteArray PdfDocumentInfo::dictionary() const {
    const QByteArray date =
        "(D:" + created.toString(QStringLiteral("yyyyMMddHHmmss")).toLatin1() + "Z)";
    return "<<\n/Title " + pdfText(title) + "\n/Author " + pdfText(author) + "\n/Subject " +
           pdfText(subject) + "\n/Creator " + pdfText(creator) + "\n/Producer " +
           pdfText(producer) + "\n/CreationDate " + date + "\n/ModDate " + date + "\n>>";
}

QByteArray PdfDocumentInfo::xmp() const {
    const QByteArray date = created.toString(Qt::ISODate).toLatin1();
    return "<?xpacket begin='\xef\xbb\xbf' id='W5M0MpCehiHzreSzNTczkc9d'?>\n"
           "<x:xmpmeta xmlns:x='adobe:ns:meta/'>\n<rdf:RDF "
           "xmlns:rdf='http://www.w3.org/1999/02/22-rdf-syntax-ns#'>\n"
           "<rdf:Description rdf:about='' xmlns:dc='http://purl.org/dc/elements/1.1/'>\n"
           "<dc:format>application/pdf</dc:format>\n"
           "<dc:title><rdf:Alt><rdf:li xml:lang='x-default'>" +
           xml(title) +
           "</rdf:li></rdf:Alt></dc:title>\n"
           "<dc:creator><rdf:Seq><rdf:li>" +
           xml(author) +
           "</rdf:li></rdf:Seq></dc:creator>\n"
           "<dc:description><rdf:Alt><rdf:li xml:lang='x-default'>" +
           xml(subject) +
           "</rdf:li></rdf:Alt></dc:description>\n</rdf:Description>\n"
           "<rdf:Description rdf:about='' xmlns:xmp='http://ns.adobe.com/xap/1.0/'>\n"
           "<xmp:CreatorTool>" +
           xml(creator) + "</xmp:CreatorTool>\n<xmp:CreateDate>" + date +
           "</xmp:CreateDate>\n<xmp:ModifyDate>" + date +
           "</xmp:ModifyDate>\n</rdf:Description>\n"
           "<rdf:Description rdf:about='' "
           "xmlns:pdf='http://ns.adobe.com/pdf/1.3/'>\n<pdf:Producer>" +
           xml(producer) +
           "</pdf:Producer>\n</rdf:Description>\n"
           "<rdf:Description rdf:about='' xmlns:pdfaid='http://www.aiim.org/pdfa/ns/id/'>\n"
           "<pdfaid:part>1</pdfaid:part>\n<pdfaid:conformance>B</pdfaid:conformance>\n</"
           "rdf:Description>\n"
           "</rdf:RDF>\n</x:xmpmeta>\n<?xpacket end='w'?>";
}
