#pragma once

// The host's own X connection for the permission probes (Linux only), to the
// display that DISPLAY names. A thread makes it, however long the server
// takes to answer (a stopped one answers once continued), trying again after
// a short pause while no server answers, and ends once it is made; a
// connection that broke sets another going: a display that comes later is
// seen. A connection that works is kept for the host's life: an X server with
// no other client resets when its last client leaves. No call here waits for
// the server.
namespace platform::x11 {

// Sets the connecting thread going; later calls do nothing.
void connectInBackground();

// The connection answered its last request (so a new client of the same
// server would be answered too). The first call waits for the first attempt
// to end, up to a deadline: a window wanted at start-up goes to the display.
bool answering();

// The server offers XTEST. Asked once per connection: the answer cannot
// change while the server runs.
bool offersXTest();

// A 1x1 image of the root window can be read. Each call collects the answer
// to the read the previous call sent and sends the next, so it never waits
// for the server (the answer is a tick old). While a read is unanswered (a
// stopped server), no new one is sent and the answer is no.
bool canReadRootWindow();

}  // namespace platform::x11
