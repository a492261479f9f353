// The iconv bridge of the POSIX code pages: conversions between UTF-16 and
// a character set iconv knows by `name`, as TCodePage makes them for the
// sets it has no codec of its own for. Bytes iconv rejects decode to one
// U+FFFD each, one byte at a time, counted in `malformed`; an incomplete
// sequence at the end decodes to one U+FFFD; a character the set cannot
// hold encodes as '?'. A name iconv does not know converts as UTF-8.
//
// Internal to the platform layer; the table codecs' tests hold them to it.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace tallyfold::iconv_bridge {

std::u16string IconvDecode(const std::string& name, std::string_view bytes,
                           std::size_t& malformed);
std::string IconvEncode(const std::string& name, std::u16string_view text);

}  // namespace tallyfold::iconv_bridge
