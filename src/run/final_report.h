#pragma once

class TextBuffer;

// The closing report of a run without a log: the exception and busy lists,
// cut short after about sixteen lines.
void buildClosingMessage(TextBuffer& text);
void showClosingMessage();
