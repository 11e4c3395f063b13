// cmdtab and sitetab, in the order HELP lists them.
//
// A row names its handler from the commands header of the folder that
// carries the command out (protocol/command_handlers.h for the reader's
// own).
#include "protocol/command_table.h"

#include <array>

#include "protocol/command_handlers.h"
#include "session/session_commands.h"
#include "site/account_commands.h"
#include "site/bulletin_commands.h"
#include "site/change_user.h"
#include "site/credit_commands.h"
#include "site/dirlog_commands.h"
#include "site/dupe_commands.h"
#include "site/emulate.h"
#include "site/group_commands.h"
#include "site/ip_commands.h"
#include "site/log_viewers.h"
#include "site/message_commands.h"
#include "site/nuke_commands.h"
#include "site/online_commands.h"
#include "site/password_commands.h"
#include "site/statistics_commands.h"
#include "site/user_display_commands.h"
#include "site/user_list_commands.h"
#include "site/welcome.h"
#include "site/wipe_command.h"
#include "transfer/transfer_commands.h"

namespace protocol {
namespace {

using core::LexState;
namespace h = handlers;
namespace session_commands = session::commands;
namespace site_commands = ::site::commands;
namespace transfer_commands = transfer::commands;

constexpr CommandEntry base(const char* name, Token token, LexState state, bool implemented,
                            const char* help, Handler handler, bool tracks_failure = false) {
  return CommandEntry{name, token, state, implemented, help, handler, tracks_failure,
                      nullptr, nullptr, 0};
}

constexpr CommandEntry unimplemented(const char* name, Token token, LexState state,
                                     const char* help) {
  return base(name, token, state, false, help, nullptr);
}

constexpr CommandEntry site(const char* name, Token token, LexState state, const char* help,
                            Handler handler, const char* bare_key, const char* argument_key,
                            unsigned forms, bool tracks_failure = false) {
  return CommandEntry{name,     token,          state,    true, help, handler, tracks_failure,
                      bare_key, argument_key,   forms};
}

constexpr CommandEntry end_of_table() {
  return CommandEntry{nullptr, kEndOfInput, LexState::Cmd, false, nullptr, nullptr, false,
                      nullptr, nullptr, 0};
}

constexpr LexState kArgs = LexState::Args, kStr1 = LexState::Str1, kOstr = LexState::Ostr,
                   kZstr1 = LexState::Zstr1, kSiteCmd = LexState::SiteCmd,
                   kNstr = LexState::Nstr;
constexpr unsigned kBoth = kBareForm | kStringForm;
constexpr bool kTracksFailure = true;

constexpr std::array kCmdTab = {
    base("USER", kUSER, kStr1, true, "<sp> username", session_commands::user),
    base("PASS", kPASS, kZstr1, true, "<sp> password", session_commands::pass),
    base("IDNT", kIDNT, kStr1, true, "IDNT ident@ip:host", h::idnt),
    unimplemented("ACCT", kACCT, kStr1, "(specify account)"),
    unimplemented("SMNT", kSMNT, kArgs, "(structure mount)"),
    unimplemented("REIN", kREIN, kArgs, "(reinitialize server state)"),
    base("QUIT", kQUIT, kArgs, true, "(terminate service)", session_commands::quit),
    base("PORT", kPORT, kArgs, true, "<sp> b0, b1, b2, b3, b4", transfer_commands::port),
    base("PASV", kPASV, kArgs, true, "(set server in passive mode)", transfer_commands::pasv, kTracksFailure),
    base("TYPE", kTYPE, kArgs, true, "<sp> [ A | E | I | L ]", h::type, kTracksFailure),
    base("STRU", kSTRU, kArgs, true, "(specify file structure)", h::stru),
    base("MODE", kMODE, kArgs, true, "(specify transfer mode)", h::mode),
    base("RETR", kRETR, kStr1, true, "<sp> file-name", transfer_commands::retr, kTracksFailure),
    base("STOR", kSTOR, kStr1, true, "<sp> file-name", transfer_commands::stor, kTracksFailure),
    base("APPE", kAPPE, kStr1, true, "<sp> file-name", transfer_commands::appe, kTracksFailure),
    unimplemented("MLFL", kMLFL, kOstr, "(mail file)"),
    unimplemented("MAIL", kMAIL, kOstr, "(mail to user)"),
    unimplemented("MSND", kMSND, kOstr, "(mail send to terminal)"),
    unimplemented("MSOM", kMSOM, kOstr, "(mail send to terminal or mailbox)"),
    unimplemented("MSAM", kMSAM, kOstr, "(mail send to terminal and mailbox)"),
    unimplemented("MRSQ", kMRSQ, kOstr, "(mail recipient scheme question)"),
    unimplemented("MRCP", kMRCP, kStr1, "(mail recipient)"),
    base("ALLO", kALLO, kArgs, true, "allocate storage (vacuously)", h::allo),
    base("REST", kREST, kArgs, true, "(restart command)", h::rest),
    base("RNFR", kRNFR, kStr1, true, "<sp> file-name", session_commands::rnfr),
    base("RNTO", kRNTO, kStr1, true, "<sp> file-name", session_commands::rnto, kTracksFailure),
    base("ABOR", kABOR, kArgs, true, "(abort operation)", h::abor),
    base("DELE", kDELE, kStr1, true, "<sp> file-name", session_commands::dele, kTracksFailure),
    base("CWD", kCWD, kOstr, true, "[ <sp> directory-name ]", session_commands::cwd, kTracksFailure),
    base("LIST", kLIST, kOstr, true, "[ <sp> path-name ]", session_commands::list),
    base("NLST", kNLST, kOstr, true, "[ <sp> path-name ]", session_commands::nlst),
    base("SITE", kSITE, kSiteCmd, true, "site-cmd [ <sp> arguments ]", nullptr),
    base("SYST", kSYST, kArgs, true, "(get type of operating system)", h::syst),
    base("STAT", kSTAT, kOstr, true, "[ <sp> path-name ]", session_commands::stat),
    base("HELP", kHELP, kOstr, true, "[ <sp> <string> ]", h::help),
    base("NOOP", kNOOP, kArgs, true, "", h::noop),
    base("MKD", kMKD, kStr1, true, "<sp> path-name", session_commands::mkd, kTracksFailure),
    base("RMD", kRMD, kStr1, true, "<sp> path-name", session_commands::rmd, kTracksFailure),
    base("PWD", kPWD, kArgs, true, "(return current directory)", session_commands::pwd),
    base("CDUP", kCDUP, kArgs, true, "(change to parent directory)", session_commands::cdup, kTracksFailure),
    base("STOU", kSTOU, kStr1, true, "<sp> file-name", transfer_commands::stou, kTracksFailure),
    base("SIZE", kSIZE, kOstr, true, "<sp> path-name", session_commands::size),
    base("MDTM", kMDTM, kOstr, true, "<sp> path-name", session_commands::mdtm),
    base("FEAT", kFEAT, kArgs, true, "(list the extensions this server supports)", h::feat),
    base("OPTS", kOPTS, kStr1, true, "<sp> command [ <sp> options ]", h::opts),
    base("EPRT", kEPRT, kStr1, true, "<sp> |af|address|port|", transfer_commands::eprt),
    base("EPSV", kEPSV, kOstr, true, "[ <sp> af | ALL ]", transfer_commands::epsv, kTracksFailure),
    base("MLSD", kMLSD, kOstr, true, "[ <sp> path-name ]", session_commands::mlsd),
    base("MLST", kMLST, kOstr, true, "[ <sp> path-name ]", session_commands::mlst),
    base("PRET", kPRET, kStr1, true, "<sp> command [ <sp> arguments ]", h::pret),
    end_of_table(),
};

constexpr std::array kSiteTab = {
    site("CHMOD", kCHMOD, kNstr, "<sp> mode <sp> file-name", session_commands::site_chmod, "-chmod", "-chmod",
         kModePathForm),
    site("TIME", kTIME, kArgs, "[ <sp> ]: Show current local time", session_commands::site_time, "-misc",
         nullptr, kBareForm),
    site("NEW", kNEW, kOstr, "[ <sp> num ]: View recent uploads", site_commands::site_new, "-dirs", "-dirs",
         kBoth),
    site("NUKES", kNUKES, kOstr, "[ <sp> num ]: Show nukes from today/yesterday", site_commands::site_nukes,
         "-dirs", "-dirs", kBoth),
    site("UNNUKES", kUNNUKES, kOstr, "[ <sp> num ]: Show UnNukes from today/yesterday",
         site_commands::site_unnukes, "-dirs", "-dirs", kBoth),
    site("WHO", kWHO, kArgs, "[ <sp> ]: Show who's online", site_commands::site_who, "-who", nullptr,
         kBareForm),
    site("SWHO", kSWHO, kArgs, "[ <sp> ]: Show who's online (PID+TIME+IDLE+ACTION)", site_commands::site_swho,
         "-swho", nullptr, kBareForm),
    site("STAT", kSTAT, kArgs, "[ <sp> ]: Show site statistics", session_commands::site_stat, "-stat", nullptr,
         kBareForm),
    site("STATS", kSTATS, kOstr, "[ <sp> user ]: User xfer statistics", site_commands::site_stats, "-stats",
         "-stats", kBoth),
    site("UPDATE", kUPDATE, kOstr, "[ <sp> ]: Update DIRLOG database", site_commands::site_update, "-update",
         "-update", kBoth),
    site("TRAFFIC", kTRAFFIC, kArgs, ": View site traffic", site_commands::site_traffic, "-stats", nullptr,
         kBareForm),
    site("NUKETOP", kNUKETOP, kOstr, "[num] [section] [=group]: Display NukeTop", site_commands::site_nuketop,
         "-stats", "-stats", kBoth),
    site("SYSLOG", kSYSLOG, kOstr,
         "[number] [string]: View user changes log [for last <number> of days] [only entries "
         "matching this string]",
         site_commands::site_syslog, "-syslog", "-syslog", kBoth),
    site("ERRLOG", kERRLOG, kOstr,
         "[number] [string]: View the error log [for last <number> of days] [only entries "
         "matching this string]",
         site_commands::site_errlog, "-errlog", "-errlog", kBoth),
    site("REQLOG", kREQLOG, kOstr,
         "[number] [string]: View request log [for last <number> of days] [only entries matching "
         "this string]",
         site_commands::site_reqlog, "-reqlog", "-reqlog", kBoth),
    site("LOGINS", kLOGINS, kOstr,
         "[number] [string]: View login log [for last <number> of days] [only entries matching "
         "this string]",
         site_commands::site_logins, "-logins", "-logins", kBoth),
    site("WKUP", kWKUP, kOstr, "[num] [section] [=group]: Week Top Uploaders", site_commands::site_wkup,
         "-stats", "-stats", kBoth),
    site("WKDN", kWKDN, kOstr, "[num] [section] [=group]: Week Top Downloaders", site_commands::site_wkdn,
         "-stats", "-stats", kBoth),
    site("ALUP", kALUP, kOstr, "[num] [section] [=group]: Top Uploaders", site_commands::site_alup, "-stats",
         "-stats", kBoth),
    site("ALDN", kALDN, kOstr, "[num] [section] [=group]: Top Downloaders", site_commands::site_aldn,
         "-stats", "-stats", kBoth),
    site("WELCOME", kWELCOME, kArgs, "[ <sp> ]: Read the welcome message", site_commands::site_welcome,
         "-info", nullptr, kBareForm),
    site("VERS", kVERS, kArgs, "[ <sp> ]: Version information", session_commands::site_vers, "-misc", nullptr,
         kBareForm),
    site("HELP", kHELP, kOstr, "[ <sp> <string> ]", h::site_help, "-help", "-help", kBoth),
    site("TAGLINE", kTAGLINE, kOstr, "[ <sp> tagline ]: View/set tagline", session_commands::site_tagline,
         "-user", "-user", kBoth),
    site("MSG", kMSG, kOstr, "[ <sp> username <sp> message ]: View/send message(s)", site_commands::site_msg,
         "-msg", "-msg", kBoth),
    site("KILL", kKILL, kOstr, "[ <sp> pidtokill ]: Kill a PID.", site_commands::site_kill, "-kill", "-kill",
         kBoth, kTracksFailure),
    site("KICK", kKICK, kOstr, "[ <sp> usertokill ]: Kick user.", site_commands::site_kick, "-kick", "-kick",
         kBoth, kTracksFailure),
    // The -emulate test is the handler's: quiet, and skipped once emulating.
    site("EMULATE", kEMULATE, kOstr, "[ <sp> username ]: Become user.", site_commands::site_emulate, nullptr,
         nullptr, kStringForm),
    site("RENUSER", kRENUSER, kOstr, "[ <sp> old_username <sp> new_username ]: Rename user.",
         site_commands::site_renuser, "-renuser", "-renuser", kBoth),
    site("ADDUSER", kADDUSER, kOstr, "[ <sp> username <sp> password ]: Add user.",
         site_commands::site_adduser, "-adduser", "-adduser", kBoth, kTracksFailure),
    site("GADDUSER", kGADDUSER, kOstr, "[ <sp> group <sp> username <sp> password ]: Add user.",
         site_commands::site_gadduser, "-gadduser", "-gadduser", kBoth, kTracksFailure),
    site("DELUSER", kDELUSER, kOstr, "[ <sp> username ]: Delete user.",
         site_commands::site_deluser, "-deluser", "-deluser", kBoth, kTracksFailure),
    site("READD", kREADD, kOstr, "[ <sp> username ]: Re-add a deleted user.",
         site_commands::site_readd, "-readd", "-readd", kBoth),
    site("GRPADD", kGRPADD, kOstr, "[ <sp> group name <sp> group info ]: Add group.",
         site_commands::site_grpadd, "-grpadd", "-grpadd", kBoth),
    site("GRPDEL", kGRPDEL, kOstr, "[ <sp> group name ]: Delete group.",
         site_commands::site_grpdel, "-grpdel", "-grpdel", kBoth),
    site("CHGRP", kCHGRP, kOstr,
         "[ <sp> username <sp> group [<sp> group]]: Change a users group(s).",
         site_commands::site_chgrp, "-chgrp", "-chgrp", kBoth),
    site("GIVE", kGIVE, kOstr, "[ <sp> username <sp> kilobytes <sp> message (optional)]:",
         site_commands::site_give, "-give", "-give", kBoth),
    site("TAKE", kTAKE, kOstr, "[ <sp> username <sp> kilobytes <sp> message (optional)]:",
         site_commands::site_take, "-take", "-take", kBoth),
    site("NUKE", kNUKE, kOstr,
         "[ <sp> directory <sp> ratio <sp> message ]: Nuke directory & credits.", site_commands::site_nuke,
         "-nuke", "-nuke", kBoth, kTracksFailure),
    site("UNNUKE", kUNNUKE, kOstr, "[ <sp> directory <sp> message ]: UnNuke directory & credits.",
         site_commands::site_unnuke, "-unnuke", "-unnuke", kBoth, kTracksFailure),
    site("SEARCH", kSEARCH, kOstr,
         "<sp> searchstr1 [searchstr2 ...] : Find a directory on the site.", site_commands::site_search,
         "-dirs", "-dirs", kBoth),
    site("ADDIP", kADDIP, kOstr, "[ <sp> username <sp> ip [...<sp> ip10] ]: Add new IP to user.",
         site_commands::site_addip, "-addip", "-addip", kBoth),
    site("DELIP", kDELIP, kOstr,
         "[ <sp> username <sp> ip [...<sp> ip10] ]: Remove IP from user.", site_commands::site_delip,
         "-delip", "-delip", kBoth),
    // With an argument the handler applies its own per-field keys.
    site("CHANGE", kCHANGE, kOstr,
         "[ <sp> username <sp> field <sp> value ]: Change user information.",
         site_commands::site_change,
         "-change", nullptr, kBoth, kTracksFailure),
    site("FLAGS", kFLAGS, kOstr, "[ <sp> username ]: Display FLAGS for user.", site_commands::site_flags,
         "-flags", "-flags", kBoth),
    site("DUPE", kDUPE, kOstr,
         "[-max <num>] searchstr1 [searchstr2 ...] : Search dupe database.",
         site_commands::site_dupe, "-dirs", "-dirs", kBoth),
    site("UNDUPE", kUNDUPE, kOstr, "[ <sp> file ]: Delete a file from the dupe library.",
         site_commands::site_undupe, "-undupe", "-undupe", kBoth),
    site("PREDUPE", kPREDUPE, kOstr, "[ <sp> file ]: Add a file to the dupe database.",
         site_commands::site_predupe, "-predupe", "-predupe", kBoth),
    site("USER", kUSER, kOstr, "[ <sp> username ]: View all users or a specific user.",
         site_commands::site_user, "-users", "-user", kBoth),
    site("USERS", kUSERS, kOstr,
         "[ <sp> option ]: Options: leech, siteop, gadmin, deleted, anonymous, glock, exempt, "
         "useredit, nuke, unnuke, undupe, kick, kill, take, give, users, idler, X (a flag), "
         "=groupname, usern*",
         site_commands::site_users, "-users", "-users", kBoth),
    site("GROUP", kGROUP, kOstr, "[ <sp> groupname ]: Change group(s).",
         site_commands::site_group, "-group", "-group", kBoth),
    site("GROUPS", kGROUPS, kOstr, "[ <sp> ]: Display available groups.",
         site_commands::site_groups, "-groups", nullptr, kBareForm),
    site("GRPNFO", kGRPNFO, kOstr, "[ <sp> groupname <sp> group nfo]: Change group nfo.",
         site_commands::site_grpnfo, "-grpnfo", "-grpnfo", kBoth),
    site("GRPREN", kGRPREN, kOstr, "[ <sp> oldname <sp> newname ]: Change group names.",
         site_commands::site_grpren, "-grpren", "-grpren", kBoth),
    site("GRPLOG", kGRPLOG, kOstr,
         "[ <sp> groupname <sp> Num]: Number of logins allowed for group.",
         site_commands::site_grplog, "-grplog", "-grplog", kBoth),
    site("COLOR", kCOLOR, kOstr,
         "[ <sp> color [on/off/show]]: Toggle use of VT-100 color codes.", session_commands::site_color,
         "-misc", "-misc", kBoth),
    site("GINFO", kGINFO, kOstr, "[ <sp> groupname ]: Show detailed group info.",
         site_commands::site_ginfo, "-ginfo", "-ginfo", kBoth),
    site("ONEL", kONEL, kOstr, "[ <sp> message ]: View/Add Oneliner.", site_commands::site_onel, "-onel",
         "-oneladd", kBoth, kTracksFailure),
    site("REQFILLED", kREQFILLED, kOstr, "[ <sp> request #]: Mark a request as filled.",
         site_commands::site_reqfilled, "-request", "-request", kBoth),
    site("SEEN", kSEEN, kOstr, "[ <sp> user ]: Show last time a user logged on.", site_commands::site_seen,
         "-user", "-user", kBoth),
    site("LASTON", kLASTON, kOstr, "[ <sp> laston ]: Display a BBS style LASTONLINE listing.",
         site_commands::site_laston, "-info", nullptr, kBareForm),
    site("REQUEST", kREQUEST, kOstr, "[ <sp> request ]: View/Add requests.", site_commands::site_request,
         "-request", "-requestadd", kBoth, kTracksFailure),
    site("GPAL", kGPAL, kOstr, "[num] [section]: Show alltime top groups.", site_commands::site_gpal,
         "-stats", "-stats", kBoth),
    site("GPWK", kGPWK, kOstr, "[num] [section]: Show week top groups.", site_commands::site_gpwk, "-stats",
         "-stats", kBoth),
    site("GPWD", kGPWD, kOstr, "[num] [section]: Show group weektop downloaders.", site_commands::site_gpwd,
         "-stats", "-stats", kBoth),
    site("GPAD", kGPAD, kOstr, "[num] [section]: Show group alltime top downloaders.",
         site_commands::site_gpad, "-stats", "-stats", kBoth),
    site("PURGE", kPURGE, kOstr, "[ <sp> user ]: Purge deleted users from system.",
         site_commands::site_purge, "-purge", "-purge", kBoth),
    site("WIPE", kWIPE, kOstr, "[ <sp> file ]: Wipe a file or directory.", site_commands::site_wipe, "-wipe",
         "-wipe", kBoth, kTracksFailure),
    site("CHPASS", kCHPASS, kOstr, "[ <sp> user <sp> password ]: Change a User's Password.",
         site_commands::site_chpass, "-chpass", "-chpass", kBoth),
    site("PASSWD", kPASSWD, kOstr, "[ <sp> password ]: Change password.", site_commands::site_passwd,
         "-passwd", "-passwd", kBoth),
    site("MONTHUP", kMONTHUP, kOstr, "[num] [section] [=group]: Month's Top Uploaders.",
         site_commands::site_monthup, "-stats", "-stats", kBoth),
    site("MONTHDN", kMONTHDN, kOstr, "[num] [section] [=group]: Month's Top Downloaders.",
         site_commands::site_monthdn, "-stats", "-stats", kBoth),
    site("DAYUP", kDAYUP, kOstr, "[num] [section] [=group]: Day's Top Uploaders.", site_commands::site_dayup,
         "-stats", "-stats", kBoth),
    site("DAYDN", kDAYDN, kOstr, "[num] [section] [=group]: Day's Top Downloaders.",
         site_commands::site_daydn, "-stats", "-stats", kBoth),
    site("IDLE", kIDLE, kArgs, "[ <sp> maximum-idle-time ]", session_commands::site_idle, "-misc", "-misc",
         kBareForm | kNumberForm),
    site("SHOW", kSHOW, kOstr, "[ <sp> user ]: Show RAW UserFile.", site_commands::site_show, "-show",
         "-show", kBoth),
    site("ALIAS", kALIAS, kOstr, "[ <sp> alias ] ", session_commands::site_alias, "-dirs", "-dirs", kBoth),
    site("CDPATH", kCDPATH, kOstr, "[ <sp> ] ", session_commands::site_cdpath, "-dirs", nullptr, kBareForm),
    site("XDUPE", kXDUPE, kOstr, "[0/1]: Toggle extended dupe information",
         site_commands::site_xdupe, nullptr, nullptr, kBoth),
    end_of_table(),
};

}  // namespace

std::span<const CommandEntry> cmdtab() { return kCmdTab; }
std::span<const CommandEntry> sitetab() { return kSiteTab; }

std::span<const CommandEntry> rows(std::span<const CommandEntry> table) {
  return table.empty() ? table : table.first(table.size() - 1);
}

const CommandEntry* lookup(std::span<const CommandEntry> table, std::string_view word) {
  for (const CommandEntry& entry : rows(table))
    if (word == entry.name) return &entry;
  return nullptr;
}

}  // namespace protocol
