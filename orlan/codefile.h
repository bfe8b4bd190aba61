// The stored forms of compiled Orlan code: the code block (our own format,
// signature "ORLB", fully verified on load) and the .ebc file, which is a
// 20-byte header followed by one code block. Used by orlanc, the engine
// loader and the player's Orlan insert.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "orlan/bytecode.h"

namespace kv::orlan {

inline constexpr uint16_t kEbcMagic = 0x4542;  // the bytes "BE"
inline constexpr uint16_t kEbcVersion = 5;
inline constexpr size_t kEbcHeaderSize = 20;
inline constexpr uint16_t kCodeBlockVersion = 1;

std::vector<uint8_t> WriteCodeBlock(const Program& program);
// Parses and verifies a code block; false with a reason on any defect.
bool ReadCodeBlock(std::span<const uint8_t> bytes, Program& program, std::string& error);
// A readable listing of the instructions, for orlanc --listing.
std::string Disassemble(const Program& program);
// Checks every operand, jump target, index and count of a program.
bool VerifyProgram(const Program& program, std::string& error);

enum class EbcStatus { Ok, UnknownType, OlderVersion, ShortRead };

struct EbcHeader {
  uint16_t magic = 0;
  uint16_t version = 0;
  uint32_t codeLength = 0;
  uint32_t codeOffset = 0;
};

std::vector<uint8_t> WriteEbc(const Program& program);
// Reads the header; fewer than 20 bytes or a wrong magic is UnknownType.
EbcStatus ReadEbcHeader(std::span<const uint8_t> file, EbcHeader& header);
// The code block of a whole .ebc file (bounds checked), or an empty span.
EbcStatus EbcCodeBlock(std::span<const uint8_t> file, std::span<const uint8_t>& block);

}  // namespace kv::orlan
