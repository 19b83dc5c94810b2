#include "config_file.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <optional>

#include "host_messages.h"
#include "host_system.h"
#include "xml_check.h"

namespace vestrel_host {
namespace {

// A UTF-16 file holds at most two bytes per character: anything longer cannot be within the limit.
constexpr size_t kMaxConfigurationBytes = 4 * kMaxConfigurationCharacters;

std::string Located(const std::string& path, size_t line, size_t column, const std::string& message) {
  return path + ":" + std::to_string(line) + ":" + std::to_string(column) + ": " + message;
}

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

struct KnownEncoding {
  const char* Names;  // space-separated, lower case
  TextEncoding::Form Kind;
  unsigned CodePage;
  const char* Display;
};

constexpr KnownEncoding kEncodings[] = {
    {"utf-8 utf8", TextEncoding::Utf8, 0, "UTF-8"},
    {"utf-16 utf16 ucs-2", TextEncoding::Utf16LE, 0, "UTF-16"},
    {"windows-1251 cp1251 x-cp1251 win-1251", TextEncoding::SingleByte, 1251, "windows-1251"},
    {"koi8-r koi8r", TextEncoding::SingleByte, 20866, "KOI8-R"},
    {"cp866 ibm866 866", TextEncoding::SingleByte, 866, "cp866"},
    {"iso-8859-5 iso8859-5", TextEncoding::SingleByte, 28595, "ISO-8859-5"},
    {"iso-8859-1 iso8859-1 latin1 us-ascii ascii", TextEncoding::SingleByte, 28591, "ISO-8859-1"},
};

const KnownEncoding* FindEncoding(const std::string& name) {
  const std::string wanted = " " + Lower(name) + " ";
  for (const KnownEncoding& encoding : kEncodings)
    if ((" " + std::string(encoding.Names) + " ").find(wanted) != std::string::npos) return &encoding;
  return nullptr;
}

// The value of encoding="..." in an XML declaration at the start of ASCII-compatible bytes,
// and where the value starts; nullopt when the declaration names none.
std::optional<std::string> DeclaredEncoding(const std::string& bytes, size_t& at) {
  if (bytes.compare(0, 5, "<?xml") != 0) return std::nullopt;
  const size_t end = bytes.find("?>");
  const std::string declaration = bytes.substr(0, end == std::string::npos ? std::min<size_t>(bytes.size(), 200) : end);
  size_t key = declaration.find("encoding");
  if (key == std::string::npos) return std::nullopt;
  size_t i = key + 8;
  while (i < declaration.size() && (declaration[i] == ' ' || declaration[i] == '\t' || declaration[i] == '\r' || declaration[i] == '\n')) ++i;
  if (i >= declaration.size() || declaration[i] != '=') return std::nullopt;
  ++i;
  while (i < declaration.size() && (declaration[i] == ' ' || declaration[i] == '\t')) ++i;
  if (i >= declaration.size() || (declaration[i] != '"' && declaration[i] != '\'')) return std::nullopt;
  const char quote = declaration[i++];
  const size_t close = declaration.find(quote, i);
  if (close == std::string::npos) return std::nullopt;
  at = i;
  return declaration.substr(i, close - i);
}

OleText Utf16Units(const std::string& bytes, size_t from, bool bigEndian) {
  OleText out;
  out.reserve((bytes.size() - from) / 2);
  for (size_t i = from; i + 1 < bytes.size(); i += 2) {
    const unsigned a = static_cast<unsigned char>(bytes[i]), b = static_cast<unsigned char>(bytes[i + 1]);
    out += static_cast<OLECHAR>(bigEndian ? (a << 8) | b : (b << 8) | a);
  }
  return out;
}

// Where the first byte that is not UTF-8 sits, as line and column of the text before it.
void FirstInvalidUtf8(const std::string& bytes, size_t& line, size_t& column) {
  // The longest valid prefix, one sequence (a lead byte and its continuation bytes) at a time.
  size_t end = 0;
  while (end < bytes.size()) {
    size_t next = end + 1;
    while (next < bytes.size() && (static_cast<unsigned char>(bytes[next]) & 0xC0) == 0x80) ++next;
    if (!IsValidUtf8(std::string_view(bytes.data() + end, next - end))) break;
    end = next;
  }
  LineAndColumn(Utf16FromUtf8(std::string_view(bytes.data(), end)), SIZE_MAX, line, column);
}

}  // namespace

bool DecodeConfigurationBytes(const std::string& path, const std::string& bytes, ConfigurationText& file,
                              std::string& error) {
  file = ConfigurationText{};
  file.Path = path;
  const auto byte = [&](size_t i) { return i < bytes.size() ? static_cast<unsigned char>(bytes[i]) : 0x100u; };
  if (bytes.empty()) {
    error = path + ": " + Say(Msg::ConfigEmpty);
    return false;
  }
  TextEncoding& encoding = file.Encoding;
  if (byte(0) == 0xEF && byte(1) == 0xBB && byte(2) == 0xBF) {
    encoding = {TextEncoding::Utf8, 0, true, "UTF-8"};
  } else if ((byte(0) == 0xFF && byte(1) == 0xFE) || (byte(0) == '<' && byte(1) == 0 && byte(2) == '?' && byte(3) == 0)) {
    encoding = {TextEncoding::Utf16LE, 0, byte(0) == 0xFF, "UTF-16"};
  } else if ((byte(0) == 0xFE && byte(1) == 0xFF) || (byte(0) == 0 && byte(1) == '<' && byte(2) == 0 && byte(3) == '?')) {
    encoding = {TextEncoding::Utf16BE, 0, byte(0) == 0xFE, "UTF-16BE"};
  } else {
    size_t at = 0;
    if (const std::optional<std::string> declared = DeclaredEncoding(bytes, at)) {
      const KnownEncoding* known = FindEncoding(*declared);
      if (known == nullptr || known->Kind == TextEncoding::Utf16LE) {
        error = Located(path, 1, at + 1, Say(known ? Msg::ConfigUtf16WithoutMark : Msg::ConfigUnknownEncoding, {*declared}));
        return false;
      }
      encoding = {known->Kind, known->CodePage, false, known->Display};
    } else if (!IsValidUtf8(bytes)) {
      // No declaration and not UTF-8: what a Russian Windows editor saves in its ANSI code page.
      encoding = {TextEncoding::SingleByte, 1251, false, "windows-1251"};
    }
  }
  const size_t mark = encoding.ByteOrderMark ? (encoding.Kind == TextEncoding::Utf8 ? 3 : 2) : 0;
  if (encoding.Kind == TextEncoding::Utf8) {
    const std::string body = bytes.substr(mark);
    if (!IsValidUtf8(body)) {
      size_t line = 1, column = 1;
      FirstInvalidUtf8(body, line, column);
      error = Located(path, line, column, Say(Msg::ConfigNotUtf8));
      return false;
    }
    file.Text = Utf16FromUtf8(body);
  } else if (encoding.Kind == TextEncoding::SingleByte) {
    std::optional<OleText> text = DecodeCodePage(bytes, encoding.CodePage);
    if (!text) {
      error = path + ": " + Say(Msg::ConfigNotInEncoding, {encoding.Name});
      return false;
    }
    file.Text = std::move(*text);
  } else {
    if ((bytes.size() - mark) % 2 != 0) {
      error = path + ": " + Say(Msg::ConfigOddUtf16);
      return false;
    }
    file.Text = Utf16Units(bytes, mark, encoding.Kind == TextEncoding::Utf16BE);
  }
  if (file.Text.size() > kMaxConfigurationCharacters) {
    error = path + ": " + Say(Msg::ConfigTooLarge, {std::to_string(kMaxConfigurationCharacters)});
    return false;
  }
  if (std::all_of(file.Text.begin(), file.Text.end(), [](OLECHAR c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; })) {
    error = path + ": " + Say(Msg::ConfigEmpty);
    return false;
  }
  if (const std::optional<XmlProblem> problem = CheckWellFormed(file.Text)) {
    error = Located(path, problem->Line, problem->Column, problem->Message);
    return false;
  }
  file.CrLf = file.Text.find(Utf16FromUtf8("\r\n")) != OleText::npos;
  return true;
}

bool ReadConfigurationText(const std::string& path, ConfigurationText& file, std::string& error) {
  switch (KindOfPath(path)) {
    case PathKind::Missing:
      error = path + ": " + Say(Msg::ConfigMissing);
      return false;
    case PathKind::Folder:
      error = path + ": " + Say(Msg::ConfigIsFolder);
      return false;
    case PathKind::File:
      break;
  }
  FILE* stream = OpenFile(path, "rb");
  if (stream == nullptr) {
    error = path + ": " + Say(Msg::ConfigUnreadable);
    return false;
  }
  std::string bytes;
  char buffer[65536];
  size_t got = 0;
  while ((got = std::fread(buffer, 1, sizeof buffer, stream)) > 0 && bytes.size() <= kMaxConfigurationBytes)
    bytes.append(buffer, got);
  const bool failed = std::ferror(stream) != 0;
  std::fclose(stream);
  if (failed) {
    error = path + ": " + Say(Msg::ConfigUnreadable);
    return false;
  }
  if (bytes.size() > kMaxConfigurationBytes) {
    error = path + ": " + Say(Msg::ConfigTooLarge, {std::to_string(kMaxConfigurationCharacters)});
    return false;
  }
  return DecodeConfigurationBytes(path, bytes, file, error);
}

bool EncodeConfigurationText(const OleText& text, const TextEncoding& encoding, std::string& bytes) {
  bytes.clear();
  switch (encoding.Kind) {
    case TextEncoding::Utf8:
      if (encoding.ByteOrderMark) bytes = "\xEF\xBB\xBF";
      bytes += Utf8FromUtf16(text);
      return true;
    case TextEncoding::Utf16LE:
    case TextEncoding::Utf16BE: {
      const bool big = encoding.Kind == TextEncoding::Utf16BE;
      OleText all = text;
      if (encoding.ByteOrderMark) all.insert(all.begin(), static_cast<OLECHAR>(0xFEFF));
      for (OLECHAR unit : all) {
        const char high = static_cast<char>(unit >> 8), low = static_cast<char>(unit & 0xFF);
        bytes += big ? high : low;
        bytes += big ? low : high;
      }
      return true;
    }
    case TextEncoding::SingleByte: {
      std::optional<std::string> encoded = EncodeCodePage(text, encoding.CodePage);
      if (!encoded) return false;
      bytes = std::move(*encoded);
      return true;
    }
  }
  return false;
}

OleText XmlDeclaration(const OleText& text) {
  const OleText start = Utf16FromUtf8("<?xml");
  if (text.compare(0, start.size(), start) != 0 || text.size() <= start.size()) return {};
  const OLECHAR after = text[start.size()];
  if (after != ' ' && after != '\t' && after != '\r' && after != '\n' && after != '?') return {};
  const size_t end = text.find(Utf16FromUtf8("?>"));
  return end == OleText::npos ? OleText() : text.substr(0, end + 2);
}

OleText TextForPlugin(const OleText& text) {
  OleText prepared = text.substr(XmlDeclaration(text).size());
  prepared = ReplaceAll(std::move(prepared), Utf16FromUtf8("\r\n"), {});
  // The plug-in's own order of the six replacements.
  static const char* const kLegacyNames[][2] = {
      {"ТочкиДоступа>", "То4киДоступа>"},
      {"<ТочкаДоступа", "<То4каДоступа"},
      {" ФлагТолькоЧтение=", " ФлагТолько4тение="},
      {" ЗначениеПоУмолчанию=", " Зна4ениеПоУмол4анию="},
      {" КодТочкиДоступа=", " КодТо4киДоступа="},
      {" Значение=", " Зна4ение="},
  };
  for (const auto& names : kLegacyNames)
    prepared = ReplaceAll(std::move(prepared), Utf16FromUtf8(names[0]), Utf16FromUtf8(names[1]));
  return prepared;
}

}  // namespace vestrel_host
