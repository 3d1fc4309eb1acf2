#pragma once
// What assistive technology sees of the log: its text, caret and selection in character
// offsets, the boxes of characters as they are laid out, and an event for every change,
// the user's edits and readings alike. A query reads only the range it asks for.
// Offsets in Qt's accessibility interfaces are int; past INT_MAX characters they are
// clamped, never wrapped.

#include <QString>

#include <cstdint>

class QAccessibleEvent;
class TLogMemo;

namespace velt {

// Makes QAccessible build the log's interface; safe to call more than once.
void installLogMemoAccessible();

// Events are built only while assistive technology listens, or while an observer is set
// (tests record them where no assistive technology runs). Null removes it.
using LogAccessibilityObserver = void (*)(QAccessibleEvent* event);
void setLogAccessibilityObserver(LogAccessibilityObserver observer);

void notifyLogTextChanged(TLogMemo* memo, std::int64_t position, const QString& removed,
                          std::int64_t added);
void notifyLogCursorChanged(TLogMemo* memo, bool selectionChanged);

} // namespace velt
