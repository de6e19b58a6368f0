#pragma once

// The 63-byte text draw record written out from its layout, to compare with what the server sends.
// Every field starts at a new text draw's value; colours are given as their bytes on the wire.

#include "tests/server/sent_rpcs.h"

namespace velt::test {

struct RecordFields {
    uint8_t flags = 0x10;
    float letterWidth = 0.48f;
    float letterHeight = 1.12f;
    Bytes letterColour = {0xE1, 0xE1, 0xE1, 0xFF};
    float textSizeX = 1280.0f;
    float textSizeY = 1280.0f;
    Bytes boxColour = {0x80, 0x80, 0x80, 0x80};
    uint8_t shadow = 2;
    uint8_t outline = 0;
    Bytes backgroundColour = {0x00, 0x00, 0x00, 0xFF};
    uint8_t font = 1;
    uint8_t selectable = 0;
    float x = 0.0f;
    float y = 0.0f;
    uint16_t previewModel = 0;
    float rotX = 0.0f;
    float rotY = 0.0f;
    float rotZ = 0.0f;
    float zoom = 1.0f;
    uint16_t colour1 = 0xFFFF;
    uint16_t colour2 = 0xFFFF;
};

inline Bytes RecordBytes(const RecordFields& f) {
    return Cat({U8(f.flags),      F32(f.letterWidth), F32(f.letterHeight), f.letterColour,
                F32(f.textSizeX), F32(f.textSizeY),   f.boxColour,         U8(f.shadow),
                U8(f.outline),    f.backgroundColour, U8(f.font),          U8(f.selectable),
                F32(f.x),         F32(f.y),           U16(f.previewModel), F32(f.rotX),
                F32(f.rotY),      F32(f.rotZ),        F32(f.zoom),         U16(f.colour1),
                U16(f.colour2)});
}

}  // namespace velt::test
