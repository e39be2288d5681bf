#pragma once
// Details on hover as the frame shows them: the hovered record drawn over
// everything in the highlight's colour, thinner than the highlight, and
// beside the pointer a box of its values on a filled background, kept inside
// the drawing area.

void drawHoverDetails();
