// What the drive and directory pickers share in drawing their rows: pictures with a transparent
// colour and the height of a font's characters.
#pragma once

#include "framework/graphics.h"

// Draws a picture with its bottom-left pixel's colour as the transparent colour.
void DrawPictureTransparent(TCanvas& canvas, int x, int y, const TBitmap& picture);

// The height of a font's characters (the cell height, as GetTextMetrics reports it).
int FontCharacterHeight(const TFont& font);
