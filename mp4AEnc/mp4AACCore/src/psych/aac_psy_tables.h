// Tables of the standard that the psychoacoustic model uses, generated at
// build time from the codec data files (gen_psy_tables.py).
#pragma once

// Scale-factor band offsets of one sample rate: numLong + 1 and numShort + 1
// cumulative offsets (the last closes the last band).
struct SwbRateTable {
  int sampleRate;
  int numLong;
  const int* longOffsets;
  int numShort;
  const int* shortOffsets;
};

// Frame length 1024, every sample rate of the standard; ends with a zero rate.
extern const SwbRateTable kSwbTables1024[];

// Rising window halves: KBD long (N 2048, alpha 4), KBD short (N 256,
// alpha 6), sine long and short.
extern const double kKbdLongTable[1024];
extern const double kKbdShortTable[128];
extern const double kSineLongTable[1024];
extern const double kSineShortTable[128];

// TNS band limits per sample rate: {rate, long, short} for Main/LC, and
// {rate, frame length 480, 512} for the low-delay lengths; end with rate 0.
struct TnsBandsRow {
  int sampleRate;
  int a;
  int b;
};
extern const TnsBandsRow kTnsMaxBands[];
extern const TnsBandsRow kTnsMaxBandsLd[];
// Largest TNS order, long and short windows: main, lc, ssr.
struct TnsOrderRow {
  const char* profile;
  int longOrder;
  int shortOrder;
};
extern const TnsOrderRow kTnsMaxOrder[3];
