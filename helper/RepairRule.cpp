#include "helper/RepairRule.h"

#include <sys/stat.h>

namespace helper {

RepairDecision decideRepair(const Ownership& wanted, unsigned verify, PackagedFile::Rule rule,
                            const Ownership& found, uid_t uidMin, gid_t gidMin) {
    RepairDecision d;
    d.target = found;
    d.modeDiffers = (verify & PackagedFile::kVerifyMode) && wanted.mode != found.mode;
    d.ownerDiffers = (verify & PackagedFile::kVerifyUser) && wanted.uid != found.uid;
    d.groupDiffers = (verify & PackagedFile::kVerifyGroup) && wanted.gid != found.gid;
    if (rule == PackagedFile::Rule::Exact) {
        if (d.modeDiffers)
            d.target.mode = wanted.mode;
        if (d.ownerDiffers)
            d.target.uid = wanted.uid;
        if (d.groupDiffers)
            d.target.gid = wanted.gid;
        return d;
    }

    constexpr unsigned kSpecial = S_ISUID | S_ISGID | S_ISVTX;
    if (d.modeDiffers) {
        unsigned mode = found.mode;
        if ((found.mode & wanted.mode) == wanted.mode)
            mode = wanted.mode | (found.mode & kSpecial); // it only gained bits
        else
            d.kept |= RepairDecision::kModeNotWidened;
        if (!(wanted.mode & S_IWOTH))
            mode &= ~static_cast<unsigned>(S_IWOTH);
        if (found.mode & ~wanted.mode & kSpecial)
            d.kept |= RepairDecision::kSpecialKept;
        d.target.mode = mode;
    }
    if (d.ownerDiffers) {
        if (wanted.uid < uidMin && found.uid >= uidMin)
            d.target.uid = wanted.uid;
        else
            d.kept |= RepairDecision::kOwnerKept;
    }
    if (d.groupDiffers) {
        if (wanted.gid < gidMin && found.gid >= gidMin)
            d.target.gid = wanted.gid;
        else
            d.kept |= RepairDecision::kGroupKept;
    }
    return d;
}

} // namespace helper
