// The part of sending a request body that both web clients share (web_client.cpp): its
// size, and its bytes in pieces, read from memory and files. Not for callers outside
// platform/.
#pragma once

#include <cstdint>
#include <functional>
#include <string_view>
#include <vector>

#include "platform/error.h"
#include "platform/web_client.h"

namespace platform {

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

}  // namespace platform
