// What both web clients share: URLs taken apart, percent-encoding, and headers looked up.
#include "platform/web_client.h"

#include <algorithm>
#include <charconv>

#include "platform/ascii.h"
#include "platform/file_identity.h"
#include "platform/output_file.h"
#include "platform/web_body.h"

namespace platform {

namespace {

// Sets the scheme's fields; false for a scheme this client does not speak.
bool readScheme(std::string_view scheme, Url* url) {
  url->secure = equalsIgnoringCase(scheme, "https") || equalsIgnoringCase(scheme, "wss");
  url->webSocket = equalsIgnoringCase(scheme, "ws") || equalsIgnoringCase(scheme, "wss");
  url->port = url->secure ? 443 : 80;
  return url->secure || url->webSocket || equalsIgnoringCase(scheme, "http");
}

// Reads "host", "host:port", "[v6]" or "[v6]:port"; the reason when it is not one.
std::string readAuthority(std::string_view authority, Url* url) {
  if (authority.find('@') != std::string_view::npos) return "user information in a URL";
  std::string_view port;
  if (!authority.empty() && authority.front() == '[') {
    const std::size_t close = authority.find(']');
    if (close == std::string_view::npos) return "no closing ']' after an IPv6 address";
    url->host = authority.substr(1, close - 1);
    const std::string_view rest = authority.substr(close + 1);
    if (!rest.empty() && rest.front() != ':') return "text after an IPv6 address";
    if (!rest.empty()) port = rest.substr(1);
  } else {
    const std::size_t colon = authority.rfind(':');
    url->host = authority.substr(0, colon);
    if (colon != std::string_view::npos) port = authority.substr(colon + 1);
  }
  if (url->host.empty()) return "no host";
  if (port.empty()) return "";
  unsigned value = 0;
  const auto [end, ec] = std::from_chars(port.data(), port.data() + port.size(), value);
  if (ec != std::errc() || end != port.data() + port.size() || value == 0 || value > 65535)
    return "a bad port";
  url->port = static_cast<std::uint16_t>(value);
  return "";
}

constexpr std::size_t kPiece = 64 * 1024;

// Hands the first size bytes of the file to write.
Status sendFile(const std::string& path, std::uint64_t size,
                const std::function<Status(std::string_view)>& write,
                const std::function<void(std::uint64_t)>& sent) {
  InputFile file;
  if (Status opened = file.open(path); !opened) return opened;
  std::vector<char> buffer(kPiece);
  while (size > 0) {
    const Expected<std::size_t> n = file.read(buffer.data(), std::min<std::uint64_t>(size, kPiece));
    if (!n) return n.error();
    if (*n == 0) return makeError(path, "the file became shorter while it was sent");
    const std::size_t count = *n;
    if (Status status = write(std::string_view(buffer.data(), count)); !status) return status;
    size -= count;
    sent(count);
  }
  return {};
}

}  // namespace

Expected<BodySizes> measureBody(const std::vector<BodyPart>& body) {
  BodySizes sizes;
  for (const BodyPart& part : body) {
    std::uint64_t size = part.bytes.size();
    if (!part.filePath.empty()) {
      FileStatus status;
      Error err;
      if (statPath(part.filePath, &status, &err) != StatResult::kFound)
        return Error{err.code, part.filePath, systemMessage(err.code)};
      if (!status.regular) return makeError(part.filePath, "not a regular file");
      size = status.size;
    }
    sizes.parts.push_back(size);
    sizes.total += size;
  }
  return sizes;
}

Status sendBody(const HttpRequest& request, const BodySizes& sizes,
                const std::function<Status(std::string_view)>& write) {
  std::uint64_t sent = 0;
  const auto tell = [&](std::uint64_t count) {
    sent += count;
    if (request.progress) request.progress(sent, sizes.total);
  };
  for (std::size_t i = 0; i < request.body.size(); ++i) {
    const BodyPart& part = request.body[i];
    if (!part.filePath.empty()) {
      if (Status s = sendFile(part.filePath, sizes.parts[i], write, tell); !s) return s;
      continue;
    }
    for (std::size_t at = 0; at < part.bytes.size(); at += kPiece) {
      const std::string_view piece = std::string_view(part.bytes).substr(at, kPiece);
      if (Status s = write(piece); !s) return s;
      tell(piece.size());
    }
  }
  return {};
}

Expected<Url> parseUrl(std::string_view text) {
  Url url;
  const std::size_t colon = text.find("://");
  if (colon == std::string_view::npos || !readScheme(text.substr(0, colon), &url))
    return makeError(urlSubject(text), "not an http, https, ws or wss URL");
  std::string_view rest = text.substr(colon + 3);
  rest = rest.substr(0, rest.find('#'));
  for (const char c : rest) {
    if (static_cast<unsigned char>(c) <= ' ' || c == 0x7F)
      return makeError(urlSubject(text), "a space or control character in a URL");
  }
  const std::size_t pathStart = std::min(rest.find_first_of("/?"), rest.size());
  const std::string why = readAuthority(rest.substr(0, pathStart), &url);
  if (!why.empty()) return makeError(urlSubject(text), why);
  const std::string_view target = rest.substr(pathStart);
  if (target.empty() || target.front() == '?') url.target.push_back('/');
  url.target.append(target);
  return url;
}

std::string urlSubject(std::string_view url) {
  std::string subject(url.substr(0, url.find_first_of("?#")));
  // user:password@ before the host stays out too.
  const std::size_t authority = subject.find("://");
  if (authority == std::string::npos) return subject;
  const std::size_t hostEnd = std::min(subject.find('/', authority + 3), subject.size());
  const std::size_t at = subject.rfind('@', hostEnd);
  if (at != std::string::npos && at > authority)
    subject.erase(authority + 3, at + 1 - authority - 3);
  return subject;
}

std::string HttpResponse::header(std::string_view name) const {
  for (const Header& h : headers)
    if (equalsIgnoringCase(h.name, name)) return h.value;
  return "";
}

std::string urlEncode(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    if (letter || c == '-' || c == '.' || c == '_' || c == '~') {
      out += c;
    } else {
      out += '%';
      out += kHex[byte >> 4];
      out += kHex[byte & 0xF];
    }
  }
  return out;
}

std::string formEncode(const std::vector<Header>& fields) {
  std::string out;
  for (const Header& field : fields) {
    if (!out.empty()) out += '&';
    out.append(urlEncode(field.name)).append("=").append(urlEncode(field.value));
  }
  return out;
}

Expected<HttpResponse> sendRequest(const HttpRequest& request) {
  const std::string subject = urlSubject(request.url);
  const auto url = parseUrl(request.url);
  if (!url) return url.error();
  const auto sizes = measureBody(request.body);
  if (!sizes) return sizes.error();
  return sendMeasured(request, *url, *sizes, subject);
}

namespace {

// A value of a form part's header: '"', CR and LF percent-encoded, as browsers send them.
std::string headerValue(std::string_view text) {
  std::string out;
  for (const char c : text) {
    if (c == '"') {
      out += "%22";
    } else if (c == '\r') {
      out += "%0D";
    } else if (c == '\n') {
      out += "%0A";
    } else {
      out.push_back(c);
    }
  }
  return out;
}

// Adds bytes from memory to the body, to its last part when that too is held in memory.
void addBytes(std::string_view bytes, std::vector<BodyPart>* body) {
  if (!body->empty() && body->back().filePath.empty()) {
    body->back().bytes += bytes;
  } else {
    body->push_back({std::string(bytes), ""});
  }
}

std::string partHead(std::string_view boundary, std::string_view name) {
  std::string head = "--";
  head.append(boundary).append("\r\nContent-Disposition: form-data; name=\"").append(name);
  return head.append("\"");
}

}  // namespace

void addFormField(std::string_view boundary, std::string_view name, std::string_view value,
                  std::vector<BodyPart>* body) {
  addBytes(partHead(boundary, name).append("\r\n\r\n").append(value).append("\r\n"), body);
}

void addFormFile(std::string_view boundary, std::string_view name, const std::string& path,
                 std::string_view type, std::vector<BodyPart>* body) {
  const std::size_t slash = path.find_last_of("/\\");
  const std::string file = slash == std::string::npos ? path : path.substr(slash + 1);
  std::string head = partHead(boundary, name).append("; filename=\"").append(headerValue(file));
  addBytes(head.append("\"\r\nContent-Type: ").append(type).append("\r\n\r\n"), body);
  body->push_back({"", path});
  body->push_back({"\r\n", ""});
}

void endForm(std::string_view boundary, std::vector<BodyPart>* body) {
  body->push_back({std::string("--").append(boundary).append("--\r\n"), ""});
}

}  // namespace platform
