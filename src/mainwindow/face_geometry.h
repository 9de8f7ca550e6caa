// Where the two meter faces sit in the window, where the meter's display lands on each, and where
// their four keys are. The window places the face and key canvases from here, the mirror draws
// the display here, and resources/face_maker.cpp draws the face pictures to match: each key
// canvas lies over a key of the picture, the display over its LCD window.
#pragma once

// A rectangle in points: its top-left corner, its width and its height.
struct Box {
  int left, top, width, height;
};

struct FaceGeometry {
  Box canvas;   // the face canvas in window content coordinates; its size is the picture's
  Box display;  // the display picture's written area, from the face's top-left corner
  Box keys[4];  // the key canvases, key 1 first, in window content coordinates
};

inline constexpr FaceGeometry kHorizontalFace{
    {30, 211, 261, 136},
    {40, 36, 128, 64},
    {{228, 300, 21, 17}, {228, 279, 21, 17}, {228, 258, 21, 17}, {228, 237, 21, 17}}};
inline constexpr FaceGeometry kVerticalFace{
    {43, 211, 136, 261},
    {36, 40, 64, 128},
    {{69, 408, 21, 17}, {92, 408, 21, 17}, {115, 408, 21, 17}, {138, 408, 21, 17}}};
