// kvtool's subcommands. Each lives in its own cmd_<name>.cpp with the table
// of its operands and options, and receives the arguments after its name.
#pragma once

#include "tools/common/options.h"
#include "tools/common/toolkit.h"

namespace kv::tool {

extern const CommandSpec kDumpSpec, kPackSpec, kXmlCheckSpec, kXmlFormatSpec, kGetSpec, kHeadSpec, kLsSpec,
    kExtractSpec, kPackKvgSpec, kComposeSpec, kEffectSpec, kPictureSpec, kCheckSpec;

int RunDump(int argc, char** argv);
int RunPack(int argc, char** argv);
int RunXml(int argc, char** argv);
int RunGet(int argc, char** argv);
int RunHead(int argc, char** argv);
int RunLs(int argc, char** argv);
int RunExtract(int argc, char** argv);
int RunPackKvg(int argc, char** argv);
int RunCompose(int argc, char** argv);
int RunEffect(int argc, char** argv);
int RunPicture(int argc, char** argv);
int RunCheck(int argc, char** argv);

}  // namespace kv::tool
