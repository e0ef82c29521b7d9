// What both web clients share: bodies measured and sent, forms, and headers looked up.
#include "platform/web_client.h"

#include <algorithm>

#include "platform/ascii.h"
#include "platform/file_identity.h"
#include "platform/output_file.h"
#include "platform/web_body.h"

namespace platform {

namespace {

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

std::string HttpResponse::header(std::string_view name) const {
  for (const Header& h : headers)
    if (equalsIgnoringCase(h.name, name)) return h.value;
  return "";
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
