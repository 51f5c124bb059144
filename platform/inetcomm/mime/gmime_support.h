// GMime set-up and ownership helpers shared by the MIME services.
#pragma once

#include <memory>
#include <string>
#include <string_view>

// The platform's types first: glib's TRUE and FALSE macros must not hide them.
#include "platform/com/stream.h"

#include <gmime/gmime.h>

namespace quillory::mime {

// g_mime_init, once per process, from whichever thread comes first.
void EnsureGMime();

struct GObjectUnref {
    void operator()(gpointer p) const { g_object_unref(p); }
};
template <class T>
using GPtr = std::unique_ptr<T, GObjectUnref>;

struct GFreeDeleter {
    void operator()(gpointer p) const { g_free(p); }
};
using GString8 = std::unique_ptr<char, GFreeDeleter>;

// Parses a whole Internet message; null when the text holds no message.
GPtr<GMimeMessage> ParseMessage(std::string_view text);
// The object as GMime writes it, with CR LF line ends as articles have them.
std::string WriteObject(GMimeObject* object);

// A copy in CoTaskMemAlloc memory with a terminating NUL.
char* TaskMemString(std::string_view text);

// The rest of a stream from its current position.
HRESULT ReadRest(IStream* stream, std::string& out);

}  // namespace quillory::mime
