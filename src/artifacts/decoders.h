// The decoder functions the artifact table lists.
#pragma once

#include "artifacts/decode_context.h"

namespace cellbrook {

// SYSTEM
void DecodeControlSets(DecodeContext& ctx);
void DecodeComputerName(DecodeContext& ctx);
void DecodeTimeZone(DecodeContext& ctx);
void DecodeShutdownTime(DecodeContext& ctx);
void DecodeServices(DecodeContext& ctx);
void DecodeUsbStor(DecodeContext& ctx);
void DecodeUsbDevices(DecodeContext& ctx);
void DecodeMountedDevices(DecodeContext& ctx);
void DecodeNetworkInterfaces(DecodeContext& ctx);
void DecodeShimCache(DecodeContext& ctx);
void DecodeBam(DecodeContext& ctx);

// User hives
void DecodeUserAssist(DecodeContext& ctx);
void DecodeRecentDocs(DecodeContext& ctx);
void DecodeRunMru(DecodeContext& ctx);
void DecodeTypedPaths(DecodeContext& ctx);
void DecodeTypedUrls(DecodeContext& ctx);
void DecodeWordWheelQuery(DecodeContext& ctx);
void DecodeOpenSaveMru(DecodeContext& ctx);
void DecodeLastVisitedMru(DecodeContext& ctx);
void DecodeNetworkDrives(DecodeContext& ctx);
void DecodeShellBags(DecodeContext& ctx);
void DecodeWslDistributions(DecodeContext& ctx);
void DecodeRunKeys(DecodeContext& ctx);
void DecodeInstalledPrograms(DecodeContext& ctx);

// SOFTWARE
void DecodeOsVersion(DecodeContext& ctx);
void DecodeProfileList(DecodeContext& ctx);
void DecodeNetworkProfiles(DecodeContext& ctx);
void DecodeAppPaths(DecodeContext& ctx);

// SAM, SECURITY, Amcache, BCD
void DecodeSamUsers(DecodeContext& ctx);
void DecodeLocalSid(DecodeContext& ctx);
void DecodeDomainSid(DecodeContext& ctx);
void DecodeAmcacheFiles(DecodeContext& ctx);
void DecodeBootEntries(DecodeContext& ctx);

}  // namespace cellbrook
