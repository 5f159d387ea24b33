// The built-in site list that a first run starts with: public FTP servers of
// software archives and of software and hardware vendors. Each row is a
// folder label, "/" to close the innermost folder, "label/host" or
// "label/host/comments". The hosts are servers that their owners publish
// for anonymous download; check that they still answer before a release.
#include "profile/profile.h"

#include <array>

namespace qb {

namespace {

constexpr std::array<std::string_view, 34> kRows = {
    "Software Archives",
    "GNU Project/ftp.gnu.org/Free software of the GNU Project",
    "FUNET/ftp.funet.fi/Archive of the Finnish University and Research Network",
    "FAU/ftp.fau.de",
    "UK Mirror Service/ftp.mirrorservice.org",
    "/",
    "Company Sites",
    "Software Company",
    "Red Hat/ftp.redhat.com",
    "SUSE/ftp.suse.com",
    "Slackware/ftp.slackware.com",
    "NetBSD/ftp.netbsd.org",
    "OpenBSD/ftp.openbsd.org",
    "ISC/ftp.isc.org",
    "ProFTPD/ftp.proftpd.org",
    "/",
    "Hardware Company",
    "Adaptec/ftp.adaptec.com",
    "Areca/ftp.areca.com.tw",
    "ASUS/ftp.asus.com.tw",
    "AVM/ftp.avm.de",
    "D-Link Europe/ftp.dlink.de",
    "D-Link Russia/ftp.dlink.ru",
    "Dell/ftp.dell.com",
    "Digi/ftp.digi.com",
    "DrayTek/ftp.draytek.com",
    "Fujitsu/ftp.ts.fujitsu.com",
    "Lantronix/ftp.lantronix.com",
    "Moxa/ftp.moxa.com",
    "Netgear/downloads.netgear.com",
    "Realtek/ftp.realtek.com.tw",
    "Supermicro/ftp.supermicro.com",
    "Tyan/ftp.tyan.com",
    "Zyxel/ftp.zyxel.com",
};

} // namespace

std::span<const std::string_view> DefaultSiteRows() {
    return kRows;
}

} // namespace qb
