// Finding and opening kestrel-av.so, once per process, the first time a
// movie needs libavcodec or libavformat.
#pragma once

#include <string>

#include "reader/av/av_api.h"

namespace kestrel::avlibrary {

// The module's table, or null when it cannot be opened; `why` then says
// why, e.g. "the codec module kestrel-av.so could not be loaded: ...".
// Looked for, in this order:
//   - the file named by the environment variable KESTREL_AV_MODULE;
//   - next to the installed programs (../lib/<arch>/kestrel from bin);
//   - in the build tree, for programs that run from the build tree.
const KestrelAvApi* api(std::string* why = nullptr);

}  // namespace kestrel::avlibrary
