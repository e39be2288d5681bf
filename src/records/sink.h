#pragma once
// The drawing vocabulary the record layers are written against. A sink
// receives primitives, colours and vertices; the GL sink (gl_sink.h) turns
// them into immediate-mode calls, the capture sink (capture_sink.h) keeps
// them so the geometry can be inspected or replayed without a window.
//
// A sink provides:
//   void lineWidth(double w);
//   void pointSize(double s);
//   void color(const double* rgba);          // four components
//   void begin(Primitive p);
//   void vertex(double x, double y);
//   void end(Primitive p);                   // p as given to begin
//   void finish();                           // close whatever is still open

enum class Primitive { Lines, LineStrip, Points };
