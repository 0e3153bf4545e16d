#pragma once

struct TGuardSettings;

// The cross-origin rules (guards/cross_origin.h) applied to the request being served on the
// calling thread, read through the engine's request context (the adapter boundary). They run in
// the engine's hooks before the form has a request of its own: before the input is read, and
// when the engine fails a request.

// True when the calling thread's request is a preflight (method OPTIONS).
bool IsPreflightRequest();

// Queues the cross-origin headers of the calling thread's request (CrossOriginHeaders), and for
// a preflight its 204 status. Nothing outside a request.
void AddCrossOriginHeaders(const TGuardSettings& guards);
