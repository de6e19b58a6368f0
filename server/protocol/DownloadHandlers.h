#pragma once

// The custom-model download protocol's requests: a client asks for a model or texture file it
// lacks by its CRC-32, and reports when it has every file of its world.

#include "net/NetworkTypes.h"

namespace velt {

// RPC ModelFileRequest: u32 CRC of a model file.
void RpcModelFileRequest(RpcCallParams* params);
// RPC TextureFileRequest: u32 CRC of a texture file.
void RpcTextureFileRequest(RpcCallParams* params);
// RPC DownloadFinished: empty. The global objects (once), the scripts' callback and the
// acknowledgement (every time); streaming resumes for the player.
void RpcDownloadFinished(RpcCallParams* params);

}  // namespace velt
