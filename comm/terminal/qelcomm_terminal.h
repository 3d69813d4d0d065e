// The terminal members of the flat engine interface. Every call takes the
// comm object's handle first; a handle that is not a comm object makes the
// call a no-op returning 0. Texts are copied into the caller's buffer with
// a terminating zero and their length is returned.
#pragma once

#include "qelcomm.h"

// Display. TerminalWrite shows n bytes as received bytes are shown.
QELCOMM_API void TerminalWrite(QcHandle object, const void* bytes, std::int32_t n);
QELCOMM_API void TerminalPrintString(QcHandle object, const char* text);
QELCOMM_CPP_API void qelbasPrint(QcHandle object, const char* text);
QELCOMM_CPP_API void qelbasColor(QcHandle object, std::int32_t foreground, std::int32_t background);
QELCOMM_CPP_API void qelbasClearScreen(QcHandle object);

// Screen and modes. SetColumns and SetRows return 0 for a refused size.
QELCOMM_API void SetEmulation(QcHandle object, std::int32_t emulation);
QELCOMM_API std::int32_t GetEmulation(QcHandle object);
QELCOMM_API std::int32_t SetColumns(QcHandle object, std::int32_t n);
QELCOMM_API std::int32_t GetColumns(QcHandle object);
QELCOMM_API std::int32_t SetRows(QcHandle object, std::int32_t n);
QELCOMM_API std::int32_t GetRows(QcHandle object);
QELCOMM_API void SetColor(QcHandle object, std::int32_t attribute);
QELCOMM_API std::int32_t GetColor(QcHandle object);
QELCOMM_API void SetEndOfLineMode(QcHandle object, std::int32_t mode);
QELCOMM_API std::int32_t GetEndOfLineMode(QcHandle object);
QELCOMM_API void SetBackspace(QcHandle object, std::int32_t mode);
QELCOMM_API std::int32_t GetBackspace(QcHandle object);
QELCOMM_API void SetCursorRow(QcHandle object, std::int32_t row);
QELCOMM_API std::int32_t GetCursorRow(QcHandle object);
QELCOMM_API void SetCursorColumn(QcHandle object, std::int32_t column);
QELCOMM_API std::int32_t GetCursorColumn(QcHandle object);
QELCOMM_CPP_API void SetTranslationTable(QcHandle object, const std::uint8_t* table256);
QELCOMM_CPP_API void GetTranslationTable(QcHandle object, std::uint8_t* table256);

// Scroll-back and text. SetScrollRows: 0 on success, -1 when memory fails.
QELCOMM_API std::int32_t SetScrollRows(QcHandle object, std::int32_t rows);
QELCOMM_API std::int32_t GetScrollRows(QcHandle object);
QELCOMM_API std::int32_t GetContents(QcHandle object, char* buffer, std::int32_t size);
QELCOMM_API std::int32_t GetContentsLength(QcHandle object);
QELCOMM_API std::int32_t GetScrollContents(QcHandle object, char* buffer, std::int32_t size);
QELCOMM_API std::int32_t GetScrollContentsLength(QcHandle object);
QELCOMM_API void SetContents(QcHandle object, const void* bytes, std::int32_t n);

// Selection: 0 done, -1 refused.
QELCOMM_API std::int32_t SetSelectionStart(QcHandle object, std::int32_t position);
QELCOMM_API std::int32_t GetSelectionStart(QcHandle object);
QELCOMM_API std::int32_t SetSelectionLength(QcHandle object, std::int32_t length);
QELCOMM_API std::int32_t GetSelectionLength(QcHandle object);
QELCOMM_API std::int32_t GetSelectionText(QcHandle object, char* buffer, std::int32_t size);
QELCOMM_API std::int32_t CopySelectionToClipboard(QcHandle object);

// Capture and display values.
QELCOMM_API std::int32_t SetCaptureFilename(QcHandle object, const char* name);
QELCOMM_API void SetCaptureMode(QcHandle object, std::int32_t mode);
QELCOMM_API std::int32_t GetCaptureMode(QcHandle object);
QELCOMM_API void SetColorFilter(QcHandle object, std::int32_t filter);
QELCOMM_API std::int32_t GetColorFilter(QcHandle object);
QELCOMM_API void SetAutoSize(QcHandle object, std::int32_t mode);
QELCOMM_API std::int32_t GetAutoSize(QcHandle object);
QELCOMM_API void SetAutoScroll(QcHandle object, std::int32_t value);
QELCOMM_API std::int32_t GetAutoScroll(QcHandle object);
// Character set: 0 the PC code page (one byte a cell), 1 UTF-8; texts read
// from the terminal are then UTF-8 too. Rendition: 0 the 16 PC colours,
// 1 the extended set (256 and true colours, underline, italic, ...).
QELCOMM_API void SetCharacterSet(QcHandle object, std::int32_t set);
QELCOMM_API std::int32_t GetCharacterSet(QcHandle object);
QELCOMM_API void SetRendition(QcHandle object, std::int32_t rendition);
QELCOMM_API std::int32_t GetRendition(QcHandle object);
QELCOMM_API void SetHScrollBar(QcHandle object, std::int32_t flag);
QELCOMM_API void SetVScrollBar(QcHandle object, std::int32_t flag);
QELCOMM_API void PaintCommWindow(QcHandle object);
