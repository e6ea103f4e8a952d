// What the companion takes from the drawing companion's code: its number
// texts and phase convention, and the picture of a response.
#pragma once

#include <string>
#include <vector>

#include "design/response.h"

namespace design {

// The shortest text that reads back to the same double.
std::string shortest_text(double v);

// An angle in degrees brought into (-180, 180].
double wrap_phase(double degrees);

// Draws the plotted unknowns' curves and every tuned mass's stroke as a
// picture of the format output's name asks for (.svg, .png or .pdf; SVG
// for "-", standard output), its bytes into picture; output itself is not
// written.  With acceleration
// the plotted unknowns' absolute accelerations, without the strokes.
// Empty when drawn, otherwise what failed.  The natural frequencies OMEGA
// of the frame are marked where they fall.
std::string draw_response(const Response& r, const Model& m, const std::vector<double>& OMEGA,
                          const std::string& output, bool hz, bool polish, const std::string& title,
                          std::string& picture, bool acceleration = false);

// Draws an objective against the frame's stiffness scale as a picture of
// the format output's name asks for (SVG for "-"), its bytes into
// picture; what is the objective's name with its unit.  Empty when drawn,
// otherwise what failed.
std::string draw_detune(const std::vector<double>& scales, const std::vector<double>& values,
                        const std::string& output, const std::string& title, const std::string& what,
                        std::string& picture);

}  // namespace design
