#pragma once
// The two preview surfaces and the two buffers the processor borrows: made
// once at start-up, released once at shutdown.

namespace Kvl::App {

// CompositeSurface, then MatteSurface. False if either could not be made;
// whatever was made stays in the shell state for releaseSurfaces.
bool createSurfaces();
// CheckerBuffer, then SourcePreview (zero-filled, so the first render and
// detection before any Open see a defined picture: black). False if either
// could not be had; whatever was had stays for freeBuffers.
bool allocateBuffers();
// The checkerboard pattern, and the grey both surfaces show until a render.
void fillBuffersAndSurfaces();

// Both memory contexts (each deletion also lets go of its bitmap), then
// both bitmaps. Safe on surfaces that were never made.
void releaseSurfaces();
// SourcePreview, then CheckerBuffer; both end null.
void freeBuffers();

}  // namespace Kvl::App
