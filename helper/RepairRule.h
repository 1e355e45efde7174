#pragma once

#include "helper/PackagedFile.h"

#include <sys/types.h>

namespace helper {

// What one path should be made, from what the package says and what was found: the rule of
// PackagedFile::Rule applied to mode (permission bits, set-ID and sticky included), owner and group.
// Nothing here looks at the disk or at trust; FileRepairer does.
struct Ownership {
    unsigned mode = 0; // the 07777 bits
    uid_t uid = 0;
    gid_t gid = 0;
};

struct RepairDecision {
    // The attributes the package vouches for that differ from what was found.
    bool modeDiffers = false, ownerDiffers = false, groupDiffers = false;
    Ownership target; // what to make it; the found value where an attribute is left as it is
    // Why a difference is (partly) left, under UndoDamage.
    static constexpr unsigned kModeNotWidened = 1u << 0; // the package grants bits the file lost
    static constexpr unsigned kSpecialKept = 1u << 1;    // set-ID or sticky bits the package does not set
    static constexpr unsigned kOwnerKept = 1u << 2;      // an owner that is not a login account
    static constexpr unsigned kGroupKept = 1u << 3;
    unsigned kept = 0;

    bool differs() const { return modeDiffers || ownerDiffers || groupDiffers; }
};

// `wanted` holds the packaged values (ids already looked up; those of attributes `verify` leaves out are
// not read). Under UndoDamage: bits the package does not grant are taken away when the file only gained
// bits, and world write the package does not grant always; an owner or group at or above `uidMin` /
// `gidMin` (a login account) is put back where the package names one below; nothing is ever widened and
// no set-ID or sticky bit removed. Under Exact the packaged values, both ways.
RepairDecision decideRepair(const Ownership& wanted, unsigned verify, PackagedFile::Rule rule,
                            const Ownership& found, uid_t uidMin, gid_t gidMin);

} // namespace helper
