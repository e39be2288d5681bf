#pragma once
// The order in which records are drawn, the same whichever way a layer is
// made, so that what the user selected or painted lies on top. Records fall
// into classes by what is stored of them:
//
// - a record is unpainted while it has no colour of its own in use or wears
//   the colour every record gets at load (unpaintedColor); unpainted records
//   form one class per selection degree, the lowest first;
// - every other colour of the colour table is a paint, one class each, from
//   the one painted with longest ago to the latest (its paint time); in the
//   fall-back to a full colour per record all painted records are one class.
//
// Classes are drawn one over another in that order, and the highlighted
// record over all of them. Within a class, records drawn one by one keep
// their order. Where every unpainted record wears the load colour, its
// selection degree changes nothing drawn, and unpainted records are one
// class whatever their degrees.
//
// The bins keep fewer classes: every selection degree up to maxDegreeClasses
// of them (neighbours share one beyond), then the paints older than the
// latest maxPaintClasses as one class, then each of those latest paints.
// Each class of the bins is a run of classes here, so records drawn one by
// one interleave with the bins' classes.

#include <cstdint>
#include <vector>

#include "plot/plot.h"

// Classes of the bins, at most: degrees, the older paints, the latest paints.
constexpr int maxDegreeClasses = 7;
constexpr int maxPaintClasses = 8;
constexpr int maxBinClasses = maxDegreeClasses + 1 + maxPaintClasses;

// Whether the records' selection degrees reach the picture: some record
// takes its colour from the colour functions, so that the selection colours
// it or orders it among records of other colours. Read once per colour
// revision, not per frame.
bool selectionOrdersRecords(const PCPlot& plot);

class DrawClasses {
public:
    // The classes of plot's records and how many records each holds, all
    // but `skip` (-1 for none), counted on `threads` threads.
    void build(const PCPlot& plot, int skip, int threads);

    // Class of record r, in drawing order.
    int classOf(int r) const {
        if (colorIndex_ != nullptr) {
            const std::uint16_t k = colorIndex_[r];
            if (k != 0) {
                if (fullColors_ == nullptr) {
                    const int c = ofColor_[k];
                    if (c >= 0) return c;
                } else if ((*fullColors_)[r] != unpaintedColor) {
                    return fallbackClass_;
                }
            }
        }
        return ofDegree_[degreeCode_[r]];
    }
    int count() const { return static_cast<int>(sizes_.size()); }
    // Records of class c (the skipped one left out).
    long long size(int c) const { return sizes_[static_cast<std::size_t>(c)]; }
    // The class of the bins class c belongs to: never falling with c.
    int binClassOf(int c) const { return binClass_[static_cast<std::size_t>(c)]; }
    int binClasses() const { return binClasses_; }

private:
    const std::uint16_t* colorIndex_ = nullptr;  // null while own colours are off
    const RecordColors* fullColors_ = nullptr;   // set in the fall-back
    const unsigned char* degreeCode_ = nullptr;
    std::vector<int> ofColor_;   // per colour index: its class, -1 for unpainted
    std::vector<int> ofDegree_;  // per selection code
    int fallbackClass_ = 0;
    std::vector<long long> sizes_;
    std::vector<int> binClass_;
    int binClasses_ = 0;
};

// The records in drawing order: class by class, record order within each.
struct RecordOrder {
    // Record at each position; empty while one class holds every record
    // (positions are then the records themselves).
    std::vector<int> records;
    // First position of each class of the bins, then the end.
    std::vector<int> binStart;

    void build(const DrawClasses& classes, int recordCount, int skip);
    int positions() const { return binStart.empty() ? 0 : binStart.back(); }
    const int* order() const { return records.empty() ? nullptr : records.data(); }
};
