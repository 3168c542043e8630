// The library's bit buffer: a circular buffer of bits, written and read most
// significant bit first, with a CRC engine (reserve a field, fill it in
// later) and a queue of the bit lengths of the frames it holds.
//
// Bit n of the stream lives in word n / 32 at bit position n % 32 (least
// significant first within a word).
#pragma once

#include <cstdint>

#include "mp4aenc/error.h"

constexpr int kBitBufferFrameQueue = 19;
constexpr int kBitBufferRegions = 64;

// A CRC region as the multiplexer marked it, in stream positions (bits
// consumed plus bits held): it protects the first `limit` bits from `start`,
// those past `end` (where it was closed) counting as zeros. `end` is -1
// while the region is open.
struct BitBufferRegion {
  int64_t start, end;
  long limit;
};

struct BitBuffer {
  uint32_t* words;
  long capacity;  // bits
  long readPos, writePos;
  long fill;      // bits held; tells a full buffer from an empty one
  int64_t written;   // bits written since creation
  int64_t consumed;  // bits read (or skipped) since creation
  int overflow;   // set when a write did not fit (the bits were dropped)
  // CRC engine
  int crcOn, crcAll;
  long crcBitsLeft;  // bits still to protect in region mode
  uint32_t crcRegister, crcTopMask, crcPolynomial;
  long reservePos;
  int reserveBits;
  // regions of the bits held, oldest first; they travel with the bits
  // through bitbuf_copy_from so that a stream writer can protect them
  BitBufferRegion regions[kBitBufferRegions];
  int regionHead, regionCount;
  // frame lengths in bits, oldest first
  long frameLengths[kBitBufferFrameQueue];
  int frameHead, frameCount;
};

// Storage is rounded up to whole 32-bit words and zeroed. Null when memory
// runs out or the capacity is not positive.
BitBuffer* bitbuf_create(long capacityBits);
void bitbuf_free(BitBuffer* buffer);
// Forgets everything (bits, the written count, frames, CRC state); keeps
// the storage.
void bitbuf_reset(BitBuffer* buffer);

// Appends the n low bits of value, most significant first (0 <= n <= 32).
// Answers 0, or -1 when n is out of range or the bits do not fit (nothing is
// written then and the overflow flag is set).
int bitbuf_write_bits(BitBuffer* buffer, uint32_t value, int n);
// Takes n bits (0 <= n <= 32) from the read position; -1 when fewer are held.
int bitbuf_read_bits(BitBuffer* buffer, int n, uint32_t* value);
// Bits held.
long bitbuf_bit_count(const BitBuffer* buffer);
// Bits written so far (64 bits: a capture of hours passes 2^31).
int64_t bitbuf_bit_position(const BitBuffer* buffer);
// Move the read or the write position by a signed amount, wrapping; -1 when
// that would take more bits than are held, or hold more than the capacity.
int bitbuf_advance_read(BitBuffer* buffer, long bits);
int bitbuf_advance_write(BitBuffer* buffer, long bits);
// Copies n bits from the read position of source (which are consumed) in
// pieces of 32, with the CRC regions that start among them; -1 when the
// source holds fewer or they do not fit.
int bitbuf_copy_from(BitBuffer* destination, BitBuffer* source, long n);

// Frame-length queue: at most 19 entries. A 20th push or a pop from an empty
// queue answers a record and changes nothing.
ErrorRecord* bitbuf_push_count(BitBuffer* buffer, long bits);
ErrorRecord* bitbuf_pop_count(BitBuffer* buffer, long* bits);
int bitbuf_pending_frames(const BitBuffer* buffer);

// Drains the oldest pending frame: length / 8 whole bytes, then the 1 to 7
// remaining bits in the top of one more byte with zero fill. *bytes is 0 and
// nothing happens when no frame is pending; a null buffer does nothing.
// Fails when the queued length exceeds the bits held.
ErrorRecord* bitbuf_copy_bytes(BitBuffer* buffer, uint32_t* bytes, uint8_t* out);

// CRC engine. The register is 16 bits wide for CRC-16 (polynomial 0x8005,
// top mask 0x8000). Each protected bit b: shift left, XOR the polynomial
// when the old top bit differs from b.
void bitbuf_crc_set_register(BitBuffer* buffer, uint32_t value);  // -1 = all ones
uint32_t bitbuf_crc_register(const BitBuffer* buffer);
void bitbuf_crc_set_polynomial(BitBuffer* buffer, uint32_t polynomial, uint32_t topMask);
void bitbuf_crc_enable(BitBuffer* buffer, int on);    // off also clears the region
void bitbuf_crc_all_bits(BitBuffer* buffer, int on);  // every written bit is protected
// Region mode: the next `bits` bits written enter the CRC. The region is
// also recorded with the bits (whether or not the CRC is on), so that a
// writer the bits are copied into can protect them later.
void bitbuf_crc_set_region(BitBuffer* buffer, long bits);
// Feeds zero bits for what is left of the region, then clears it; closes
// the recorded region.
void bitbuf_crc_close_region(BitBuffer* buffer);
// Recorded regions among the bits held.
int bitbuf_region_count(const BitBuffer* buffer);
// Feeds the protected bits of every recorded region among the bits held
// into the register, oldest first, each padded with zeros to its length
// (the CRC need not be on). Answers the number of regions fed.
int bitbuf_crc_feed_regions(BitBuffer* buffer);
// Remembers the position and writes `bits` zero bits outside the CRC.
int bitbuf_crc_reserve(BitBuffer* buffer, int bits);
// Writes the register's low bits into the reserved field.
int bitbuf_crc_store(BitBuffer* buffer);
