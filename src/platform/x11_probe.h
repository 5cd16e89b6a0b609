#pragma once

// The host's own X connection for the permission probes (Linux only), to the
// display that DISPLAY names. Made once, within a deadline, and kept for the
// host's life: an X server with no other client resets when its last client
// leaves, so the connection is never closed and made again. No call here
// blocks for longer than the deadline, even on a stopped server.
namespace platform::x11 {

// Starts the connection on a thread of its own; later calls do nothing.
void connectInBackground();

// Whether the connection could be made (the server answered in time). Waits
// for the background connection, up to its deadline.
bool connected();

// The server offers XTEST. Asked once per connection: the answer cannot
// change while the server runs.
bool offersXTest();

// A 1x1 image of the root window can be read. Each call collects the answer
// to the read the previous call sent and sends the next, so it never waits
// for the server (the answer is a tick old). While a read is unanswered (a
// stopped server), no new one is sent and the answer is no.
bool canReadRootWindow();

}  // namespace platform::x11
