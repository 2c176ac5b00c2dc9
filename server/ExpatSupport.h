#pragma once

#include <QString>
#include <expat.h>

namespace vserver::expat {

// What expat stopped at, in Russian, with what it expected where that is plain.
QString errorText(XML_Error code);

// Lets expat read files declared in a single-byte encoding it does not know itself
// (windows-1251, KOI8-R, ISO-8859-5…), through iconv's tables. Set with
// XML_SetUnknownEncodingHandler; an encoding iconv does not know, or a multi-byte one, stays
// refused.
int singleByteEncoding(void* data, const XML_Char* name, XML_Encoding* info);

} // namespace vserver::expat
