#pragma once

#include "core/Geometry.h"
#include "core/Job.h"

#include <cstddef>
#include <cstdint>

namespace tarvik::pcl5 {
// Interprets PCL 5 (with HP-GL/2) starting anywhere in PCL 5 mode; returns
// the number of bytes consumed (it stops at a UEL, ESC%-12345X, or at the
// end) and sets ok = false when the stream broke. When job.StartInHpgl2() is
// set the data begins in HP-GL/2 mode.
size_t Interpret(const uint8_t* data, size_t size, JobContext& job, bool& ok);

// The page another language has open, as PCL 5 inside it sees it.
struct HostPage {
    PageSetup setup;           // size (portrait form) and orientation
    double unitsPerInch = 300; // PCL unit of measure to start with
    bool cursorValid = false;
    Point cursor; // page space (points)
};

// Runs PCL 5 on the open page of another language (PCL XL's PassThrough):
// PCL takes that page's size and orientation, 1/6-inch top and bottom
// margins, the host's unit and cursor, and cannot begin or end pages.
// Returns false when the data broke.
bool InterpretOnPage(const uint8_t* data, size_t size, JobContext& job, const HostPage& host);
} // namespace tarvik::pcl5
