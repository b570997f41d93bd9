#include "camera/virtual/VirtualModelTables.h"

// The property tables of the bodies, as read off real cameras by a standard PTP client (see
// VirtualModel.h for the line format). Changes from the readings, each for the virtual
// camera's sake: focus mode AF-S instead of MF, so that the AF drive has something to do;
// JPEG Fine as the D850's quality, so that one shot makes one file; DateTime empty, as the
// camera computes it from its clock; 0xD103 (buffer) added, which the program reads; and
// on the Z 6 the shutter and aperture marked writable with Bulb and Time listed, since the
// exposure program, not the table, decides both on the bodies with exposure rules.
namespace pexil::camera {

QStringView d850PropertyTable() {
    return uR"table(
5001 u8 ro range 1 100 1 = 60
5003 str rw enum "8256x5504" "6192x4128" "4128x2752" = "4128x2752"
5004 u8 rw enum 0 1 2 3 4 5 6 7 8 9 10 11 12 13 = 2
5005 u16 rw enum 2 4 5 6 7 32784 32785 32786 32787 32790 = 2
5007 u16 rw enum 180 200 220 250 280 320 350 400 450 500 560 630 710 800 900 1000 1100 1300
    1400 1600 = 1600
5008 u32 ro range 5000 5000 1 = 5000
500a u16 ro enum 1 32784 32785 32787 = 32784
500b u16 rw enum 2 3 4 32784 = 3
500c u16 rw enum 2 4 32784 32786 = 32784
500d u32 rw enum 1 2 3 4 5 6 8 10 12 15 20 25 31 40 50 62 80 100 125 166 200 250 333 400 500
    666 769 1000 1250 1666 2000 2500 3333 4000 5000 6250 7692 10000 13000 16000 20000 25000
    30000 40000 50000 60000 80000 100000 130000 150000 200000 250000 300000 4294967295
    4294967293 = 7692
500e u16 rw enum 1 2 3 4 = 1
500f u16 rw enum 32 40 50 64 80 100 125 160 200 250 320 400 500 640 800 1000 1250 1600 2000
    2500 3200 4000 5000 6400 8000 10000 12800 16000 20000 25600 32000 40000 51200 = 400
5010 i16 rw enum -5000 -4666 -4333 -4000 -3666 -3333 -3000 -2666 -2333 -2000 -1666 -1333
    -1000 -666 -333 0 333 666 1000 1333 1666 2000 2333 2666 3000 3333 3666 4000 4333 4666
    5000 = 0
5011 str rw none = ""
5013 u16 ro enum 1 2 32784 32785 32786 32790 32792 = 32785
5018 u16 rw range 1 200 1 = 1
501c u16 rw enum 2 32784 32785 32786 32787 32788 32789 32790 = 32784
501e str ro none = "Photographer"
501f str ro none = "Photographer"
d303 u8 ro none = 1
d406 str rw none = "Windows/6.0.5330.0 MTPClassDriver/6.0.5330.0"
d407 u32 ro none = 1
d010 u8 rw range 0 3 1 = 0
d011 str rw none = "                    "
d012 str rw none = "                    "
d013 str rw none = "                    "
d014 str rw none = "                    "
d015 u8 rw range 0 1 1 = 0
d016 u8 rw range 0 2 1 = 0
d017 u16 rw range 0 1224 1 = 612
d018 u16 rw range 0 1224 1 = 612
d019 u16 rw range 0 1224 1 = 612
d01a u16 rw range 0 1224 1 = 612
d01b u16 rw range 0 1224 1 = 612
d01c u16 rw range 0 1224 1 = 612
d01d u16 rw range 0 1224 1 = 612
d01e u16 rw range 2500 10000 10 = 5000
d01f u8 rw range 1 6 1 = 1
d021 str rw none = "                                    "
d022 str rw none = "                                    "
d023 str rw none = "                                    "
d024 str rw none = "                                    "
d026 u32 ro none = 254413569
d027 u32 ro none = 254413569
d028 u32 ro none = 254413569
d029 u32 ro none = 254413569
d02e u8 rw range 0 40 1 = 0
d02f u8 rw range 0 22 1 = 0
d030 u8 rw range 0 4 1 = 0
d032 u8 rw range 0 1 1 = 0
d033 u8 rw range 0 1 1 = 0
d034 u8 rw range 0 2 1 = 2
d038 str rw none = "                                    "
d039 str rw none = "                                    "
d03a u16 rw range 0 1224 1 = 612
d03b u16 rw range 0 1224 1 = 612
d03c u8 rw range 0 1 1 = 0
d03d u8 rw range 0 1 1 = 0
d03e u32 ro none = 254413569
d03f u32 ro none = 254413569
d040 u8 rw range 0 3 1 = 0
d041 str rw none = "                    "
d042 str rw none = "                    "
d043 str rw none = "                    "
d044 str rw none = "                    "
d045 u8 rw range 0 1 1 = 0
d046 u8 rw range 1 5 1 = 3
d047 u8 rw range 1 3 1 = 2
d048 u8 rw range 0 3 1 = 3
d049 u8 rw range 0 1 1 = 0
d04f u8 rw range 0 1 1 = 0
d053 u8 rw range 0 1 1 = 1
d054 u8 rw range 0 1 1 = 0
d055 u8 rw range 0 2 1 = 0
d056 u8 rw range 0 2 1 = 0
d057 u8 rw range 0 2 1 = 0
d059 u8 rw range 0 4 1 = 0
d05a i8 rw range -6 6 1 = 0
d05b i8 rw range -6 6 1 = 0
d05c i8 rw range -6 6 1 = 0
d05d u8 rw range 0 4 1 = 2
d061 u8 rw enum 0 2 3 4 = 3
d067 i32 ro none = 23553130
d068 u8 rw range 1 8 1 = 4
d069 u8 rw range 1 200 1 = 200
d06a u8 rw range 0 5 1 = 0
d06b u8 rw range 0 1 1 = 1
d06c u8 rw range 0 2 1 = 1
d070 u8 rw range 0 3 1 = 2
d072 str rw none = "Photographer"
d073 str rw none = "Photographer"
d074 u8 rw range 0 7 1 = 1
d075 u8 rw range 0 11 1 = 0
d078 u8 rw range 0 4 1 = 0
d079 u8 rw range 0 3 1 = 0
d07a u8 rw range 0 1 1 = 0
d07d i32 ro none = 23592808
d07e i32 ro none = -1
d07f u8 rw range 0 1 1 = 0
d087 u8 rw range 0 1 1 = 0
d08a u8 rw range 0 1 1 = 0
d08d u8 rw range 0 1 1 = 0
d08f u8 rw range 0 3 1 = 3
d090 str rw none = ""
d091 u8 rw range 0 1 1 = 0
d092 u8 rw range 0 1 1 = 0
d093 u8 rw range 0 8 1 = 0
d09c u8 ro range 0 1 1 = 0
d09d u8 rw range 0 1 1 = 0
d09e u8 rw enum 0 1 = 1
d09f u8 rw range 0 1 1 = 1
d0a0 u8 rw range 0 12 1 = 3
d0a2 u8 rw range 0 5 1 = 0
d0a3 u8 rw range 0 1 1 = 1
d0a4 u32 ro none = 0
d0a7 u8 rw range 0 1 1 = 1
d0a8 u8 rw range 1 20 1 = 15
d0aa u8 rw range 0 1 1 = 0
d0ab u16 ro none = 32894
d0ac u8 rw range 0 1 1 = 0
d0ad u8 rw range 0 1 1 = 0
d0ae u8 rw range 6 39 1 = 34
d0af u8 rw enum 0 1 = 0
d0b4 u32 rw enum 32 40 50 64 80 100 125 160 200 250 320 400 500 640 800 1000 1250 1600 2000
    2500 3200 4000 5000 6400 8000 10000 12800 16000 20000 25600 32000 40000 51200 102400 =
    400
d0b5 u32 ro none = 400
d0b6 str rw enum "8256x5504" "6192x4128" "4128x2752" = "8256x5504"
d0b7 u8 rw range 0 1 1 = 0
d0b9 u8 ro enum 0 1 2 3 4 5 = 0
d0c0 u8 rw range 0 1 1 = 0
d0c1 u8 ro range 0 5 1 = 3
d0c2 u8 ro range 0 7 1 = 0
d0c3 u8 ro range 1 1 1 = 1
d0c4 u8 ro range 0 2 1 = 0
d0c5 u8 ro range 0 7 1 = 4
d0c6 u8 ro range 0 3 1 = 0
d0c7 u8 ro range 0 4 1 = 0
d0e0 u16 ro none = 176
d0e1 u8 ro range 0 1 1 = 1
d0e2 u64 ro none = 51
d0e3 u32 ro none = 5000
d0e4 u32 ro none = 5000
d0e5 u16 ro none = 180
d0e6 u16 ro none = 180
d0f7 u8 rw range 0 3 1 = 1
d0f8 u8 rw range 0 1 1 = 0
d100 u32 rw enum 73536 71936 70536 69536 68736 68036 67536 67136 66786 66536 66336 66176
    66036 65936 65856 65786 65736 65696 65661 65636 65616 65596 65586 65576 65566 65561
    65556 65551 65549 65546 65544 65542 65541 65540 65539 655385 65538 655376 655373 65537
    851978 1048586 131073 1638410 196609 262145 327681 393217 524289 655361 851969 983041
    1310721 1638401 1966081 4294967295 4294967293 4294967294 = 655373
d101 u8 ro range 0 1 1 = 0
d102 u8 ro none = 0
d103 u8 ro none = 100
d104 u8 ro range 0 1 1 = 0
d105 u8 ro range 0 1 1 = 0
d106 u8 ro range 0 1 1 = 0
d108 u8 rw range 0 153 1 = 1
d109 i8 rw range -30 30 2 = 0
d10b u8 rw range 0 2 1 = 0
d10c u8 ro range 0 2 1 = 2
d10e u8 ro range 0 3 1 = 0
d112 u8 rw range 0 1 1 = 0
d113 u8 rw range 0 1 1 = 0
d118 u8 rw range 0 1 1 = 0
d120 u8 ro range 0 1 1 = 0
d121 u8 ro range 0 1 1 = 0
d122 u8 ro range 0 3 1 = 0
d124 i8 ro range -18 18 1 = 0
d125 u8 ro range 0 7 1 = 0
d126 i8 rw range -18 6 2 = 0
d12d u8 ro range 0 1 1 = 0
d130 u8 rw range 0 2 1 = 0
d131 u8 rw range 0 3 1 = 0
d132 u8 rw range 0 2 1 = 1
d141 u8 rw range 0 2 1 = 2
d148 u8 rw range 0 2 1 = 1
d149 u8 rw range 0 1 1 = 1
d14e u8 rw range 0 5 1 = 1
d14f u8 rw range 0 6 1 = 3
d150 u8 rw range 0 48 1 = 24
d152 u16 rw range 0 1224 1 = 612
d153 u16 rw range 0 1224 1 = 612
d154 u16 rw range 0 1224 1 = 612
d155 u16 rw range 0 1224 1 = 612
d156 u8 rw range 0 1 1 = 1
d158 u8 rw range 0 1 1 = 0
d159 u8 rw range 0 1 1 = 0
d15a u8 rw range 0 1 1 = 0
d15b u16 ro range 100 999 1 = 105
d15c u8 rw range 0 1 1 = 0
d15d u8 rw range 0 1 1 = 0
d15e u16 rw range 0 1224 1 = 612
d161 u8 rw range 0 4 1 = 3
d164 u8 rw range 0 52 1 = 52
d176 u16 rw none = 0
d177 u8 rw range 0 2 1 = 0
d183 u8 rw range 0 39 1 = 34
d197 u8 rw enum 0 1 = 0
d199 u8 rw range 0 40 1 = 40
d1a2 u8 ro range 0 2 1 = 0
d1a3 u8 rw range 0 7 1 = 0
d1a4 u32 ro none = 0
d1a5 u8 ro enum 0 1 = 0
d1a6 u8 ro enum 0 1 = 0
d1a7 u16 ro enum 2 4 5 6 7 32784 32785 32786 32787 32788 32790 = 32788
d1a8 u32 ro enum 73536 71936 70536 69536 68736 68036 67536 67136 66786 66536 66336 66176
    66036 65936 65856 65786 65736 65696 65661 65636 65616 65596 = 65616
d1a9 u16 ro enum 0 = 0
d1aa u32 rw enum 64 80 100 125 160 200 250 320 400 500 640 800 1000 1250 1600 2000 2500 3200
    4000 5000 6400 8000 10000 12800 16000 20000 25600 32000 40000 51200 102400 = 20000
d1ab i16 ro enum -3000 -2666 -2333 -2000 -1666 -1333 -1000 -666 -333 0 333 666 1000 1333
    1666 2000 2333 2666 3000 = 0
d1ac u8 rw enum 1 2 3 = 2
d1ad u8 rw range 0 2 1 = 0
d1ae u8 rw enum 0 1 = 0
d1af u16 ro enum 2 3 32784 = 3
d1b0 u8 ro range 0 3 1 = 0
d1b1 i8 ro range -60 60 1 = -8
d1b2 u8 ro range 0 1 1 = 0
d1b3 u8 ro range 0 1 1 = 0
d1b4 u8 ro range 0 200 1 = 19
d1b9 u8 ro enum 0 1 2 3 = 3
d1ba u8 ro enum 0 1 = 0
d1de u8 rw enum 0 1 = 0
d1df u16 rw enum 180 191 202 213 224 235 248 255 = 248
d1e2 u8 ro enum = 0
d1e3 u8 ro enum = 0
d1e4 u32 ro none = 0
d1e5 u8 ro enum 0 1 = 0
d1e6 u32 ro range 0 9999 1 = 0
d1e7 u8 ro none = 0
d1e8 u8 ro enum 255 = 255
d1e9 u8 ro enum 0 1 = 0
d1ea u8 ro none = 1
d1ec u8 rw enum 0 1 = 0
d1ed u8 ro enum 0 1 = 0
d1f0 u8 rw range 0 1 1 = 0
d1f1 u32 ro range 0 4294967295 1 = 1550
d1f2 u8 ro range 0 3 1 = 2
d1f4 i8 rw range -2 2 1 = 0
d1f6 u8 ro range 0 1 1 = 0
d1f7 u8 ro range 0 2 1 = 0
d200 u16 rw enum 1 2 3 4 5 6 7 8 201 202 203 204 205 206 207 208 209 = 1
d201 u16 ro enum = 0
d20d u8 rw range 0 1 1 = 0
d20e u8 rw range 0 1 1 = 0
d20f u8 rw range 0 1 1 = 0
d210 u8 rw range 0 1 1 = 0
d211 u8 rw range 0 2 1 = 2
d212 u16 rw range 0 1224 1 = 612
d213 u16 rw range 0 1224 1 = 612
d214 u8 rw range 0 6 1 = 3
d215 u16 rw range 0 1224 1 = 612
d216 u16 rw range 0 1224 1 = 612
d218 u16 rw range 0 1224 1 = 612
d219 u16 rw range 0 1224 1 = 612
d21a u16 rw range 2500 10000 10 = 5000
d21b u8 rw range 0 48 1 = 24
d21c u8 rw range 1 6 1 = 1
d21d str rw none = "                                    "
d21e str rw none = "                                    "
d21f str rw none = "                                    "
d220 str rw none = "                                    "
d221 str rw none = "                                    "
d222 str rw none = "                                    "
d223 u32 ro none = 254413569
d224 u32 ro none = 254413569
d225 u32 ro none = 254413569
d226 u32 ro none = 254413569
d227 u32 ro none = 254413569
d228 u32 ro none = 254413569
d229 u16 rw range 0 1224 1 = 612
d22a u16 rw range 0 1224 1 = 612
d22b u16 rw range 0 1224 1 = 612
d22c u16 rw range 0 1224 1 = 612
d22d u16 rw range 0 1224 1 = 612
d22e u16 rw range 0 1224 1 = 612
d22f u8 rw range 0 1 1 = 0
d230 u8 rw range 0 1 1 = 0
d231 u8 rw range 0 1 1 = 0
d232 u8 rw range 0 1 1 = 0
d233 u8 rw range 0 1 1 = 0
d234 u8 rw range 0 1 1 = 0
d235 u8 rw range 0 1 1 = 0
d236 u8 rw range 0 3 1 = 2
d237 u16 rw enum 1 2 3 4 5 6 7 8 100 201 202 203 204 205 206 207 208 209 = 1
d238 u16 ro enum = 0
d239 i8 rw range -6 6 1 = 0
d23a u16 rw enum 2 4 5 6 32784 32785 32786 32787 32789 32790 = 32789
d23b u8 rw range 0 5 1 = 0
d23c u16 rw range 0 1224 1 = 612
d23d u8 rw enum 0 1 = 0
d314 u8 rw range 0 1 1 = 0
)table";
}

QStringView z6PropertyTable() {
    return uR"table(
5001 u8 ro range 1 100 1 = 100
5003 str rw enum "6048x4024" "4528x3016" "3024x2016" = "6048x4024"
5004 u8 rw enum 0 1 2 3 4 5 6 7 8 9 10 11 12 13 = 0
5005 u16 rw enum 2 4 5 6 7 32784 32785 32786 32787 32790 = 2
5007 u16 rw enum 400 450 500 560 630 710 800 900 1000 1100 1300 1400 1600 1800 2000 2200 =
    400
5008 u32 ro range 2400 7000 1 = 2400
500a u16 ro enum 1 32784 32785 32787 = 32784
500b u16 rw enum 2 3 4 32784 = 3
500c u16 rw enum 2 4 32784 32785 32786 32787 = 32784
500d u32 rw enum 1 2 3 4 5 6 8 10 12 15 20 25 31 40 50 62 80 100 125 166 200 250 333 400 500
    666 769 1000 1250 1666 2000 2500 3333 4000 5000 6250 7692 10000 13000 16000 20000 25000
    30000 40000 50000 60000 80000 100000 130000 150000 200000 250000 300000 4294967295
    4294967293 = 400
500e u16 ro enum 1 2 3 4 32784 32848 32849 32850 = 2
500f u16 rw enum 50 64 80 100 125 160 200 250 320 400 500 640 800 1000 1250 1600 2000 2500
    3200 4000 5000 6400 8000 10000 12800 16000 20000 25600 32000 40000 51200 = 160
5010 i16 rw enum -5000 -4666 -4333 -4000 -3666 -3333 -3000 -2666 -2333 -2000 -1666 -1333
    -1000 -666 -333 0 333 666 1000 1333 1666 2000 2333 2666 3000 3333 3666 4000 4333 4666
    5000 = 0
5011 str rw none = ""
5013 u16 rw enum 1 2 32784 32785 32793 = 1
5018 u16 rw range 1 65535 1 = 1
501c u16 rw enum 32784 32785 32791 32792 32793 = 32784
501e str ro none = "Photographer"
501f str ro none = "Photographer"
d303 u8 ro none = 1
d406 str rw none = "Windows/6.0.5330.0 MTPClassDriver/6.0.5330.0"
d407 u32 ro none = 1
d015 u8 rw range 0 1 1 = 0
d016 u8 rw range 0 2 1 = 2
d017 u16 rw range 0 1224 1 = 612
d018 u16 rw range 0 1224 1 = 612
d019 u16 rw range 0 1224 1 = 612
d01a u16 rw range 0 1224 1 = 612
d01b u16 rw range 0 1224 1 = 612
d01c u16 rw range 0 1224 1 = 612
d01d u16 rw range 0 1224 1 = 612
d01e u16 rw range 2500 10000 10 = 5000
d01f u8 rw range 1 6 1 = 1
d021 str rw none = "                                    "
d022 str rw none = "                                    "
d023 str rw none = "                                    "
d024 str rw none = "                                    "
d026 u32 ro none = 231738032
d027 u32 ro none = 231738032
d028 u32 ro none = 231738032
d029 u32 ro none = 231738032
d02e u8 rw range 0 40 1 = 0
d02f u8 rw range 0 22 1 = 0
d030 u8 rw range 0 3 1 = 0
d032 u8 rw range 0 1 1 = 0
d034 u8 rw range 0 2 1 = 2
d038 str rw none = "                                    "
d039 str rw none = "                                    "
d03a u16 rw range 0 1224 1 = 612
d03b u16 rw range 0 1224 1 = 612
d03c u8 rw range 0 1 1 = 0
d03d u8 rw range 0 1 1 = 0
d03e u32 ro none = 231738032
d03f u32 ro none = 231738032
d045 u8 rw range 0 1 1 = 0
d046 u8 rw range 1 5 1 = 3
d048 u8 rw range 0 1 1 = 0
d049 u8 rw range 0 1 1 = 0
d04f u8 rw range 0 1 1 = 0
d053 u8 rw range 0 1 1 = 0
d054 u8 rw range 0 1 1 = 1
d056 u8 rw range 0 1 1 = 0
d059 u8 rw range 0 1 1 = 1
d05a i8 rw range -6 6 1 = 0
d05b i8 rw range -6 6 1 = 0
d05c i8 rw range -6 6 1 = 0
d061 u8 rw enum 0 1 4 = 4
d067 i32 ro none = -1
d068 u8 rw range 4 8 1 = 6
d069 u8 rw range 1 200 1 = 200
d06a u8 rw range 0 5 1 = 0
d06b u8 rw range 0 1 1 = 0
d06c u8 rw range 0 2 1 = 1
d070 u8 rw range 0 3 1 = 2
d072 str rw none = "Photographer"
d073 str rw none = ""
d074 u8 rw range 0 6 1 = 1
d075 u8 rw range 0 11 1 = 0
d078 u8 rw range 0 4 1 = 0
d079 u8 rw range 0 3 1 = 0
d07a u8 rw range 0 1 1 = 0
d07c u8 ro enum 0 1 = 1
d07d i32 ro none = -1
d07e i32 ro none = -1
d08a u8 rw range 0 1 1 = 0
d08d u8 rw range 0 1 1 = 0
d08f u8 rw range 0 2 1 = 2
d090 str rw none = ""
d091 u8 rw range 0 1 1 = 0
d093 u8 rw range 0 19 1 = 0
d09c u8 ro range 0 1 1 = 1
d09d u8 rw range 0 1 1 = 1
d0a0 u8 rw range 0 12 1 = 5
d0a2 u8 rw range 0 5 1 = 0
d0a4 u32 ro none = 24576
d0a7 u8 rw range 0 1 1 = 1
d0a8 u8 rw range 1 20 1 = 15
d0aa u8 rw range 0 1 1 = 0
d0ac u8 rw range 0 1 1 = 0
d0ad u8 rw range 0 1 1 = 1
d0ae u8 rw range 0 37 1 = 32
d0af u8 rw enum 0 1 = 0
d0b4 u32 rw enum 50 64 80 100 125 160 200 250 320 400 500 640 800 1000 1250 1600 2000 2500
    3200 4000 5000 6400 8000 10000 12800 16000 20000 25600 32000 40000 51200 64000 81200
    102400 204800 = 160
d0b5 u32 ro none = 160
d0b6 str rw enum "6048x4024" "4528x3016" "3024x2016" = "6048x4024"
d0b7 u8 rw range 0 1 1 = 0
d0ba u8 rw enum 0 1 = 1
d0bb u8 ro enum 0 1 = 0
d0bc u8 ro enum 1 = 1
d0bd u32 ro none = 0
d0bf u8 ro enum 0 1 = 0
d0c0 u8 rw range 0 1 1 = 0
d0c1 u8 rw range 0 5 1 = 3
d0c2 u8 rw range 0 8 1 = 8
d0c3 u8 ro range 1 1 1 = 2
d0c4 u8 ro range 0 2 1 = 0
d0c5 u8 ro range 0 8 1 = 8
d0c6 u8 ro range 0 4 1 = 4
d0c7 u8 ro range 0 4 1 = 0
d0cc u8 rw enum 0 1 = 0
d0e0 u16 ro none = 1
d0e1 u8 ro range 0 1 1 = 1
d0e2 u64 ro none = 0
d0e3 u32 ro none = 2400
d0e4 u32 ro none = 7000
d0e5 u16 ro none = 400
d0e6 u16 ro none = 400
d0e7 u64 ro none = 128
d0f7 u8 rw range 0 3 1 = 2
d0f8 u8 ro range 1 1 1 = 1
d0fc u8 ro range 19 23 1 = 19
d100 u32 rw enum 73536 71936 70536 69536 68736 68036 67536 67136 66786 66536 66336 66176
    66036 65936 65856 65786 65736 65696 65661 65636 65616 65596 65586 65576 65566 65561
    65556 65551 65549 65546 65544 65542 65541 65540 65539 655385 65538 655376 655373 65537
    851978 1048586 131073 1638410 196609 262145 327681 393217 524289 655361 851969 983041
    1310721 1638401 1966081 4294967295 4294967293 4294967294 = 65561
d101 u8 ro range 0 1 1 = 0
d102 u32 ro none = 0
d103 u8 ro none = 100
d104 u8 ro range 0 1 1 = 0
d105 u8 ro range 0 1 1 = 0
d106 u8 ro range 0 1 1 = 0
d109 i8 rw range -30 30 2 = 0
d10b u8 rw range 0 2 1 = 0
d10c u8 ro range 0 2 1 = 1
d10e u8 ro range 0 3 1 = 0
d112 u8 ro range 0 1 1 = 0
d113 u8 ro range 0 1 1 = 0
d118 u8 rw range 0 1 1 = 0
d120 u8 ro range 0 1 1 = 0
d121 u8 ro range 0 1 1 = 0
d122 u8 ro range 0 3 1 = 0
d124 i8 ro range -18 18 1 = 0
d125 u8 ro range 0 7 1 = 0
d126 i8 rw range -18 6 2 = 0
d12d u8 ro range 0 1 1 = 0
d12e u8 ro enum 0 1 2 = 0
d130 u8 rw range 0 2 1 = 0
d131 u8 rw range 0 3 1 = 0
d132 u8 rw range 0 2 1 = 1
d133 u8 rw enum 0 1 = 0
d138 u8 rw enum 0 1 2 = 1
d141 u8 rw range 0 2 1 = 0
d149 u8 rw range 0 1 1 = 1
d14e u8 rw range 0 5 1 = 1
d14f u8 rw range 0 6 1 = 3
d150 u8 rw range 0 48 1 = 24
d152 u16 rw range 0 1224 1 = 612
d153 u16 rw range 0 1224 1 = 612
d154 u16 rw range 0 1224 1 = 612
d155 u16 rw range 0 1224 1 = 612
d158 u8 rw range 0 1 1 = 0
d159 u8 rw range 0 1 1 = 0
d15a u8 rw range 0 1 1 = 0
d15b u16 ro range 100 999 1 = 100
d15c u8 rw range 0 1 1 = 0
d15d u8 rw range 0 1 1 = 0
d15e u16 rw range 0 1224 1 = 612
d164 u8 rw range 0 52 1 = 52
d16a u8 rw range 1 1 1 = 1
d17a u8 rw enum 0 1 = 0
d17b u8 rw enum 0 1 = 1
d17c i8 rw range -5 5 1 = 0
d17d u8 rw enum 0 1 = 0
d17e u8 rw range 1 7 1 = 4
d183 u8 rw range 0 37 1 = 32
d197 u8 rw enum 0 1 = 0
d199 u8 rw range 0 38 1 = 38
d1a2 u8 ro range 0 1 1 = 0
d1a4 u32 ro none = 0
d1a6 u8 ro enum 0 1 = 0
d1a8 u32 ro enum 73536 71936 70536 69536 68736 68036 67536 67136 66786 66536 66336 66176
    66036 65936 65856 65786 65736 65696 65661 65636 65616 65596 = 65596
d1a9 u16 ro enum 0 = 0
d1aa u32 rw enum 100 125 160 200 250 320 400 500 640 800 1000 1250 1600 2000 2500 3200 4000
    5000 6400 8000 10000 12800 16000 20000 25600 32000 40000 51200 64000 81200 102400 204800
    = 100
d1ab i16 ro enum -3000 -2666 -2333 -2000 -1666 -1333 -1000 -666 -333 0 333 666 1000 1333
    1666 2000 2333 2666 3000 = 0
d1ac u8 rw enum 1 2 3 = 2
d1ad u8 rw range 0 1 1 = 0
d1af u16 rw enum 2 3 32784 = 3
d1b0 u8 ro range 0 3 1 = 2
d1b1 i8 ro range -60 60 1 = -60
d1b2 u8 ro range 0 1 1 = 0
d1b3 u8 ro range 0 1 1 = 1
d1b4 u16 ro range 0 360 1 = 20
d1b7 u8 ro range 0 50 1 = 20
d1b8 u8 ro enum 0 1 = 1
d1b9 u8 rw enum 0 1 2 3 = 0
d1bb u8 ro enum 0 1 = 0
d1bc u8 rw enum 0 1 2 3 4 5 = 0
d1bd u16 rw enum 0 512 1024 2048 = 0
d1de u8 rw enum 0 1 = 0
d1df u16 rw enum 180 191 202 213 224 235 248 255 = 248
d1e2 u8 ro enum = 0
d1e3 u8 ro enum = 0
d1e4 u32 ro none = 0
d1e5 u8 ro enum 0 1 = 0
d1e6 u32 ro range 0 9999 1 = 0
d1e7 u8 ro none = 0
d1e8 u8 ro enum 255 = 255
d1e9 u8 ro enum 0 1 = 0
d1ea u8 ro none = 1
d1ec u8 rw enum 0 1 = 0
d1ed u8 ro enum 0 1 = 0
d1f0 u8 rw range 0 1 1 = 0
d1f1 u32 ro range 0 4294967295 1 = 9751
d1f4 i8 rw range -2 2 1 = 0
d1f8 u16 rw enum 32784 32785 32792 32793 = 32784
d1f9 u8 rw enum 0 1 2 100 = 100
d1fa u8 rw enum 0 1 2 4 = 4
d1fb u8 rw enum 0 1 2 = 0
d1fc u8 ro enum 0 1 = 0
d1fe u8 ro enum 0 1 = 1
d200 u16 rw enum 1 2 3 4 5 6 7 8 101 102 103 104 105 106 107 108 109 110 111 112 113 114 115
    116 117 118 119 120 201 202 203 204 205 206 207 208 209 = 1
d20d u8 rw range 0 1 1 = 0
d20e u8 rw range 0 1 1 = 0
d20f u8 rw range 0 1 1 = 0
d211 u8 rw range 0 2 1 = 0
d212 u16 rw range 0 1224 1 = 612
d213 u16 rw range 0 1224 1 = 612
d214 u8 rw range 0 6 1 = 3
d215 u16 rw range 0 1224 1 = 612
d216 u16 rw range 0 1224 1 = 612
d218 u16 rw range 0 1224 1 = 612
d219 u16 rw range 0 1224 1 = 612
d21a u16 rw range 2500 10000 10 = 5000
d21b u8 rw range 0 48 1 = 24
d21c u8 rw range 1 6 1 = 1
d21d str rw none = "                                    "
d21e str rw none = "                                    "
d21f str rw none = "                                    "
d220 str rw none = "                                    "
d221 str rw none = "                                    "
d222 str rw none = "                                    "
d223 u32 ro none = 231738032
d224 u32 ro none = 231738032
d225 u32 ro none = 231738032
d226 u32 ro none = 231738032
d227 u32 ro none = 231738032
d228 u32 ro none = 231738032
d229 u16 rw range 0 1224 1 = 612
d22a u16 rw range 0 1224 1 = 612
d22b u16 rw range 0 1224 1 = 612
d22c u16 rw range 0 1224 1 = 612
d22d u16 rw range 0 1224 1 = 612
d22e u16 rw range 0 1224 1 = 612
d22f u8 rw range 0 1 1 = 0
d230 u8 rw range 0 1 1 = 0
d231 u8 rw range 0 1 1 = 0
d232 u8 rw range 0 1 1 = 0
d233 u8 rw range 0 1 1 = 0
d234 u8 rw range 0 1 1 = 0
d235 u8 rw range 0 1 1 = 0
d236 u8 rw range 0 3 1 = 2
d237 u16 rw enum 1 2 3 4 5 6 7 8 100 101 102 103 104 105 106 107 108 109 110 111 112 113 114
    115 116 117 118 119 120 201 202 203 204 205 206 207 208 209 = 100
d239 i8 rw range -6 6 1 = 0
d23a u16 rw enum 2 4 5 6 32784 32785 32786 32787 32789 32790 = 32789
d23b u8 rw range 0 5 1 = 0
d23c u16 rw range 0 1224 1 = 612
d23d u8 rw enum 0 1 = 0
d23e u8 rw enum 0 1 2 3 100 = 2
d23f u8 rw enum 0 1 = 1
d314 u8 rw range 0 1 1 = 0
)table";
}

QStringView j5PropertyTable() {
    return uR"table(
5001 u8 ro range 0 100 1 = 20
5004 u8 ro enum 1 2 4 7 = 1
5007 u16 ro enum 100 110 120 130 140 150 160 170 180 190 200 220 240 250 270 280 300 320 350
    380 400 420 450 480 500 530 560 600 630 670 710 760 800 850 900 950 1000 1100 1200 1300
    1400 1500 1600 1700 1800 1900 2000 2100 2200 2400 2500 2760 2900 3000 3200 0 = 140
500a u16 ro enum 1 32784 32785 32786 = 32786
500e u16 ro enum 1 2 3 4 32784 32785 32786 32787 32788 32789 = 1
5010 i16 rw enum -3000 -2666 -2333 -2000 -1666 -1333 -1000 -666 -333 0 333 666 1000 1333
    1666 2000 2333 2666 3000 = 0
5011 str rw none = ""
d303 u8 ro none = 1
d406 str rw none = "(null)"
d407 u32 ro none = 1
f002 u8 rw enum 0 1 2 3 10 11 12 13 14 15 16 17 18 19 20 21 22 23 24 25 26 27 28 29 30 31 32
    33 34 35 36 37 38 39 40 46 52 = 52
f003 u8 rw range 0 60 1 = 60
f004 i8 rw range -31 84 1 = 84
f005 u8 ro range 30 72 1 = 0
f006 u8 rw range 0 60 1 = 60
f007 i8 rw range -31 84 1 = 84
f008 u8 ro range 30 60 1 = 0
f009 u8 rw enum 0 1 2 3 4 = 0
f00a u8 rw enum 0 1 2 = 2
f00c u8 rw enum 0 1 2 3 4 5 6 7 8 = 0
f00d u8 rw enum 0 1 = 0
f00e u8 rw enum 0 1 = 0
f00f u8 rw enum 0 1 = 0
f010 u8 rw range 0 1 1 = 1
f011 u8 rw enum 0 1 2 3 = 0
f012 u8 rw range 0 2 1 = 0
f013 u8 rw range 0 1 1 = 1
f014 u8 rw range 1 254 1 = 50
f015 u8 rw range 0 2 1 = 0
f016 u8 rw range 0 1 1 = 0
f018 u16 rw enum 0 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 19 20 21 22 23 24 25 26 27
    28 29 30 31 = 4
f019 u8 rw enum 0 1 = 0
f01a u8 rw range 0 1 1 = 0
f01b u8 rw enum 0 1 2 3 4 5 = 0
f01c u8 rw enum 0 1 2 3 = 2
d100 u32 ro enum 4294967295 1966081 1638401 1310721 983041 851969 655361 524289 393217
    327681 262145 196609 1638410 131073 1048586 983050 851978 65537 655373 655375 655376
    65538 655385 65539 65540 65541 65542 65544 65546 65549 65551 65556 65561 65566 65576
    65581 65586 65596 65616 65626 65636 65661 65696 65716 65736 65786 65856 65886 65936
    66036 66176 66286 66336 66536 66786 67036 67136 67536 68036 68536 68736 69536 70536
    71536 71936 73536 74536 75536 78036 78536 80536 81536 = 69536
d1a4 u32 ro none = 0
d1a2 u8 ro range 0 1 1 = 0
)table";
}

QStringView genericPropertyTable() {
    return uR"table(
5001 u8 ro range 0 100 1 = 80
5003 str rw enum "6720x4480" "4464x2976" "3360x2240" = "6720x4480"
5004 u8 rw enum 1 2 3 = 2
5005 u16 rw enum 1 2 4 5 6 7 = 2
5007 u16 rw enum 140 160 180 200 220 250 280 320 350 400 450 500 560 630 710 800 900 1000 1100
    1300 1400 1600 1800 2000 2200 = 560
5008 u32 ro range 2400 10500 1 = 5000
500a u16 ro enum 1 2 = 2
500d u32 rw enum 2 3 4 5 6 8 10 12 15 20 25 31 40 50 62 80 100 125 166 200 250 333 400 500 666
    769 1000 1250 1666 2000 2500 3333 4000 5000 6250 7692 10000 13000 16000 20000 25000 30000
    40000 50000 60000 80000 100000 130000 150000 200000 250000 300000 4294967295 = 80
500e u16 ro enum 1 2 3 4 = 1
500f u16 rw enum 100 125 160 200 250 320 400 500 640 800 1000 1250 1600 2000 2500 3200 4000 5000
    6400 = 400
5010 i16 rw enum -3000 -2666 -2333 -2000 -1666 -1333 -1000 -666 -333 0 333 666 1000 1333 1666
    2000 2333 2666 3000 = 0
5011 str rw none = ""
)table";
}

}  // namespace pexil::camera
