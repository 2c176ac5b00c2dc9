#include "ExpatSupport.h"

#include <cerrno>
#include <cstring>
#include <iconv.h>

namespace vserver::expat {

QString errorText(XML_Error code) {
    switch (code) {
    case XML_ERROR_NO_MEMORY:
        return QStringLiteral("нет памяти для разбора");
    case XML_ERROR_SYNTAX:
        return QStringLiteral("ошибка синтаксиса XML: ожидался элемент, текст или комментарий");
    case XML_ERROR_NO_ELEMENTS:
        return QStringLiteral("файл обрывается раньше, чем закрыт корневой элемент (файл пуст или обрезан)");
    case XML_ERROR_INVALID_TOKEN:
        return QStringLiteral("недопустимый в XML знак");
    case XML_ERROR_UNCLOSED_TOKEN:
        return QStringLiteral("файл обрывается посреди тега: ожидалось «>»");
    case XML_ERROR_PARTIAL_CHAR:
        return QStringLiteral("файл обрывается посреди многобайтного знака");
    case XML_ERROR_TAG_MISMATCH:
        return QStringLiteral("закрывающий тег не совпадает с открытым элементом");
    case XML_ERROR_DUPLICATE_ATTRIBUTE:
        return QStringLiteral("атрибут повторён в одном элементе");
    case XML_ERROR_JUNK_AFTER_DOC_ELEMENT:
        return QStringLiteral("после закрытия корневого элемента ещё есть разметка");
    case XML_ERROR_UNDEFINED_ENTITY:
        return QStringLiteral("неизвестная сущность «&…;»");
    case XML_ERROR_RECURSIVE_ENTITY_REF:
    case XML_ERROR_AMPLIFICATION_LIMIT_BREACH:
        return QStringLiteral("сущности раскрываются слишком глубоко или слишком много раз");
    case XML_ERROR_UNKNOWN_ENCODING:
        return QStringLiteral("кодировка файла не поддерживается (нужна UTF-8, UTF-16 или однобайтная, "
                              "например windows-1251)");
    case XML_ERROR_INCORRECT_ENCODING:
        return QStringLiteral("содержимое не соответствует объявленной кодировке");
    case XML_ERROR_UNCLOSED_CDATA_SECTION:
        return QStringLiteral("раздел CDATA не закрыт: ожидалось «]]>»");
    case XML_ERROR_MISPLACED_XML_PI:
        return QStringLiteral("объявление <?xml …?> не в самом начале файла");
    case XML_ERROR_UNBOUND_PREFIX:
        return QStringLiteral("префикс пространства имён не объявлен");
    case XML_ERROR_INVALID_ARGUMENT:
    case XML_ERROR_ABORTED:
        return QStringLiteral("разбор прерван");
    default:
        return QStringLiteral("ошибка разбора XML (код expat %1)").arg(int(code));
    }
}

int singleByteEncoding(void*, const XML_Char* name, XML_Encoding* info) {
    const iconv_t converter = iconv_open("UTF-32LE", name);
    if (converter == iconv_t(-1))
        return XML_STATUS_ERROR;
    bool singleByte = true;
    for (int byte = 0; byte < 256 && singleByte; ++byte) {
        char in = char(byte);
        char out[8];
        char* inAt = &in;
        char* outAt = out;
        size_t inLeft = 1, outLeft = sizeof out;
        iconv(converter, nullptr, nullptr, nullptr, nullptr);
        if (iconv(converter, &inAt, &inLeft, &outAt, &outLeft) == size_t(-1)) {
            singleByte = errno == EILSEQ; // a byte with no character is refused where it occurs
            info->map[byte] = -1;
            continue;
        }
        if (outAt - out != 4) {
            singleByte = false;
            break;
        }
        quint32 character;
        std::memcpy(&character, out, 4);
        info->map[byte] = int(character);
    }
    iconv_close(converter);
    if (!singleByte)
        return XML_STATUS_ERROR;
    info->data = nullptr;
    info->convert = nullptr;
    info->release = nullptr;
    return XML_STATUS_OK;
}

} // namespace vserver::expat
