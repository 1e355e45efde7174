#pragma once

#include <string>

namespace helper {

// One whole repair of an installation: reads its rpm database, checks every packaged file and repairs
// what differs, reporting on `outputFd` as the application reads it (a start message, "PercentComplete"
// rising with the packages checked, a message per difference and per repair, a summary, and the end).
class PermissionRepair {
public:
    // Exit statuses besides 0.
    static constexpr int kNothingToRepair = 2; // no rpm, no database, or no package in it
    static constexpr int kFailed = 3;          // the volume or rpm's listing could not be read

    PermissionRepair(std::string volume, std::string rpmPath, int outputFd);

    // Runs the repair; the exit status. Failures get one line on standard error.
    int run();

private:
    std::string m_volume, m_rpmPath;
    int m_outputFd;
};

} // namespace helper
