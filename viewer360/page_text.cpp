#include "viewer360/page_text.h"

#include "image/ascii_case.h"

int StereoTypeForMode(int n360mode) {
  if (n360mode < 0 || n360mode > 8) n360mode = 0;
  return n360mode == 8 ? 0 : n360mode + 1;
}

PageParameters PageParametersFor(std::string_view path, int n360mode,
                                 bool swap) {
  PageParameters parameters;
  size_t dot = path.rfind('.');
  size_t slash = path.find_last_of("/\\");
  std::string_view extension;
  if (dot != std::string_view::npos &&
      (slash == std::string_view::npos || dot > slash))
    extension = path.substr(dot + 1);
  // Still pictures the page's browser decodes are pictures; the rest is
  // handed to its video element.  Only .jpg was taken for a picture once,
  // and a .jps or .png still then failed as "a movie that cannot be played".
  parameters.kind = 'm';
  for (const char* still : {"jpg", "jpeg", "jps", "png", "pns"})
    if (EqualIgnoringCase(extension, still)) parameters.kind = 'p';
  parameters.stereoType = StereoTypeForMode(n360mode);
  parameters.swap = swap ? 1 : 0;
  parameters.scriptPath = EscapeForScriptString(path);
  return parameters;
}

std::string EscapeForScriptString(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 8);
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '\'': out += "\\'"; break;
      case '"': out += "\\\""; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '<': out += "\\x3C"; break;
      case '\0': out += "\\x00"; break;
      default:
        // U+2028 and U+2029 end a line inside older script engines.
        if (static_cast<unsigned char>(c) == 0xE2 && i + 2 < text.size() &&
            static_cast<unsigned char>(text[i + 1]) == 0x80 &&
            (static_cast<unsigned char>(text[i + 2]) & 0xFE) == 0xA8) {
          out += text[i + 2] == '\xA8' ? "\\u2028" : "\\u2029";
          i += 2;
        } else {
          out += c;
        }
    }
  }
  return out;
}

std::string FillPageTemplate(std::string_view pageTemplate,
                             const PageParameters& parameters) {
  const std::string kind(1, parameters.kind);
  const std::string values[] = {kind, std::to_string(parameters.stereoType),
                                std::to_string(parameters.swap),
                                parameters.scriptPath};
  std::string out;
  out.reserve(pageTemplate.size() + parameters.scriptPath.size() + 8);
  size_t next = 0;
  for (size_t i = 0; i < pageTemplate.size(); ++i) {
    char c = pageTemplate[i];
    if (c != '%' || i + 1 >= pageTemplate.size()) {
      out += c;
      continue;
    }
    char kindChar = pageTemplate[i + 1];
    if (kindChar == '%') {
      out += '%';
    } else if ((kindChar == 's' || kindChar == 'd') && next < 4) {
      out += values[next++];
    } else {
      out += c;  // not a placeholder: kept as written
      continue;
    }
    ++i;
  }
  return out;
}
