#pragma once

// Test server only: when LIBRARY_TEST_CLOCK_FILE names a file, the server's clock runs that many
// seconds ahead of the system clock (the file holds one integer, read afresh each time, so a test moves
// time by rewriting it). A missing or unreadable file means no offset.
namespace TestClock {
void installFromEnvironment();
} // namespace TestClock
