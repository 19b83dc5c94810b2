#pragma once
// Configuration files as the integrator has them: read by Unicode path, decoded the way XML
// says (byte-order mark first, then the encoding in the declaration; without either, UTF-8,
// or windows-1251 when the bytes are not UTF-8, as a Russian Windows tool saves them), checked
// for well-formedness, and written back in the encoding they came in.
#include <cstddef>
#include <string>

#include "host_text.h"

namespace vestrel_host {

// The plug-in refuses configuration text longer than this many characters; the tool applies
// the same limit to a file before it hands anything over.
inline constexpr size_t kMaxConfigurationCharacters = 8u * 1024u * 1024u;

struct TextEncoding {
  enum Form { Utf8, Utf16LE, Utf16BE, SingleByte } Kind = Utf8;
  unsigned CodePage = 0;  // Kind SingleByte: the Windows code page number
  bool ByteOrderMark = false;
  std::string Name = "UTF-8";  // as the user knows it
};

struct ConfigurationText {
  std::string Path;    // as the user named it
  OleText Text;        // the whole file in UTF-16, without the byte-order mark
  TextEncoding Encoding;
  bool CrLf = false;   // its lines end in CR LF
};

// Reads and checks the file. False with the message for the user ("FILE: ..." or
// "FILE:LINE:COLUMN: ...").
bool ReadConfigurationText(const std::string& path, ConfigurationText& file, std::string& error);

// Decodes file bytes (no file access): the part of ReadConfigurationText after reading.
bool DecodeConfigurationBytes(const std::string& path, const std::string& bytes, ConfigurationText& file,
                              std::string& error);

// The bytes of text in the file's own encoding (with its byte-order mark, if it had one);
// false when a character cannot be written in that encoding.
bool EncodeConfigurationText(const OleText& text, const TextEncoding& encoding, std::string& bytes);

// The XML declaration at the start of the text ("<?xml ...?>"), empty when there is none.
OleText XmlDeclaration(const OleText& text);

// The text as the plug-in's own loaders prepare configuration text before they parse it: the
// declaration goes (the text is Unicode now, whatever the file's encoding was), every CR LF
// pair is removed, and the standard spellings of the six vocabulary names become the legacy
// ones the plug-in queries ("Значение" -> "Зна4ение", ...).
OleText TextForPlugin(const OleText& text);

}  // namespace vestrel_host
