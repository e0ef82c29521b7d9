// Request bodies: multipart forms built for any caller, and the part of sending a body
// that both web clients share (web_client.cpp): its size, and its bytes in pieces, read from
// memory and files.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/error.h"
#include "platform/web_client.h"

namespace platform {

// A multipart/form-data body (RFC 7578), built part by part with the boundary named in its
// Content-Type: a text field, a file (read when the body is sent) and the closing line.
void addFormField(std::string_view boundary, std::string_view name, std::string_view value,
                  std::vector<BodyPart>* body);
void addFormFile(std::string_view boundary, std::string_view name, const std::string& path,
                 std::string_view type, std::vector<BodyPart>* body);
void endForm(std::string_view boundary, std::vector<BodyPart>* body);

// The size in bytes of each part of a body, and of the whole.
struct BodySizes {
  std::vector<std::uint64_t> parts;
  std::uint64_t total = 0;
};

// Measures the body; an error naming a file part that is not a readable regular file.
Expected<BodySizes> measureBody(const std::vector<BodyPart>& body);

// Hands the body to write in pieces of at most 64 KiB, files read as they go, and tells
// the request's progress after each. Stops at the first failure; a file that no longer
// holds as many bytes as measured is one; bytes it gained since are not sent.
Status sendBody(const HttpRequest& request, const BodySizes& sizes,
                const std::function<Status(std::string_view)>& write);

// The system's half of sendRequest, once the shared half has read the URL and measured the
// body; subject is the URL as errors name it.
Expected<HttpResponse> sendMeasured(const HttpRequest& request, const Url& url,
                                    const BodySizes& sizes, const std::string& subject);

}  // namespace platform
