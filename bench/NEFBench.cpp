#include "kit/nef/NEF.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <initializer_list>
#include <random>

namespace pexil {
namespace {

constexpr std::size_t kHeadSize = 128 * 1024;  // what the card browser reads of each NEF

struct Field {
    std::uint16_t tag;
    std::uint16_t type;
    std::uint32_t count;
    std::uint32_t value;
};

void put(Bytes& b, std::size_t at, std::uint32_t v, int width) {
    for (int i = 0; i < width; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

void putIFD(Bytes& b, std::size_t at, std::initializer_list<Field> fields) {
    put(b, at, static_cast<std::uint32_t>(fields.size()), 2);
    std::size_t entry = at + 2;
    for (const Field& f : fields) {
        put(b, entry, f.tag, 2);
        put(b, entry + 2, f.type, 2);
        put(b, entry + 4, f.count, 4);
        put(b, entry + 8, f.value, f.type == 3 && f.count == 1 ? 2 : 4);
        entry += 12;
    }
    put(b, entry, 0, 4);
}

// Laid out like a camera's NEF: IFD0 with the 160×120 RGB thumbnail, a SubIFD with the
// full-size JPEG, one with the raw data and a small JPEG, and a large Exif IFD whose
// maker note fills most of the head. Everything not a table is noise, as in a real file.
Bytes nefHead() {
    Bytes b(kHeadSize);
    std::mt19937 noise(7);
    for (auto& byte : b) byte = static_cast<std::uint8_t>(noise());
    put(b, 0, 'I' | ('I' << 8), 2);
    put(b, 2, 42, 2);
    put(b, 4, 8, 4);
    const std::uint16_t S = 3, L = 4, A = 2, R = 5, U = 7;
    putIFD(b, 8,
           {{254, L, 1, 1},       {256, L, 1, 160},     {257, L, 1, 120},     {258, S, 3, 0x200},
            {259, S, 1, 1},       {262, S, 1, 2},       {271, A, 18, 0x208},  {272, A, 10, 0x220},
            {273, L, 1, 0x10000}, {274, S, 1, 6},       {277, S, 1, 3},       {278, S, 1, 120},
            {279, L, 1, 57600},   {282, R, 1, 0x230},   {283, R, 1, 0x238},   {284, S, 1, 1},
            {296, S, 1, 2},       {305, A, 10, 0x240},  {306, A, 20, 0x250},  {330, L, 2, 0x270},
            {532, R, 6, 0x280},   {34665, L, 1, 0x400}, {36867, A, 20, 0x2B0}});
    put(b, 0x270, 0x300, 4);
    put(b, 0x274, 0x380, 4);
    putIFD(b, 0x300,
           {{254, L, 1, 0},
            {259, S, 1, 6},
            {282, R, 1, 0x230},
            {283, R, 1, 0x238},
            {296, S, 1, 2},
            {513, L, 1, 0x21000},
            {514, L, 1, 1'612'345},
            {531, S, 1, 2}});
    putIFD(b, 0x380,
           {{254, L, 1, 0},
            {256, L, 1, 6048},
            {257, L, 1, 4032},
            {259, S, 1, 34713},
            {273, L, 1, 0x1C0000},
            {279, L, 1, 29'000'000},
            {513, L, 1, 0x1A0000},
            {514, L, 1, 9000}});
    putIFD(b, 0x400, {{33434, R, 1, 0x600},  {33437, R, 1, 0x608},      {34850, S, 1, 3},
                      {34855, S, 1, 400},    {36864, U, 4, 0x30323330}, {36867, A, 20, 0x610},
                      {36868, A, 20, 0x628}, {37380, 10, 1, 0x640},     {37381, R, 1, 0x648},
                      {37383, S, 1, 5},      {37384, S, 1, 0},          {37385, S, 1, 16},
                      {37386, R, 1, 0x650},  {37500, U, 0xE000, 0x700}, {37510, U, 44, 0x660},
                      {41495, S, 1, 2},      {41728, U, 1, 3},          {41729, U, 1, 1},
                      {41730, U, 8, 0x690},  {41985, S, 1, 0},          {41986, S, 1, 1},
                      {41987, S, 1, 0},      {41988, R, 1, 0x698},      {41989, S, 1, 50},
                      {41990, S, 1, 0},      {41991, S, 1, 0},          {41992, S, 1, 0},
                      {41993, S, 1, 0},      {41994, S, 1, 0},          {41996, S, 1, 0}});
    return b;
}

void largestPreview(benchmark::State& state) {
    const Bytes head = nefHead();
    if (NEF::largestPreview(head) != NEF::Location{0x21000, 1'612'345})
        state.SkipWithError("the head does not hold the expected preview");
    for (auto _ : state) benchmark::DoNotOptimize(NEF::largestPreview(head));
}
BENCHMARK(largestPreview);

void orientation(benchmark::State& state) {
    const Bytes head = nefHead();
    if (NEF::orientation(head) != 6) state.SkipWithError("the head is not oriented 6");
    for (auto _ : state) benchmark::DoNotOptimize(NEF::orientation(head));
}
BENCHMARK(orientation);

}  // namespace
}  // namespace pexil
