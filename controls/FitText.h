#pragma once

class QWidget;

// The layouts were drawn for one sans serif face and its metric twins. With
// another (the desktop's default where those are missing), a text that would
// be cut short, or run into the text to its right, gets a narrower cut of its
// font, down to two thirds of the width; its place and height stay.
void fitTexts(QWidget *window);
