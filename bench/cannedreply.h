#pragma once

#include <QByteArray>

// The reply both stand-in servers send whatever was asked: one book row, as a book-number lookup
// finds it, and the end-of-stream word. One set of bytes, so their rates compare servers, not replies.
QByteArray cannedBookReply();
