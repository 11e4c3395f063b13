// Grammar terminals of the command language: the letter and punctuation
// tokens, and one token per command word of cmdtab and sitetab.
#pragma once

namespace protocol {

enum Token : int {
  kEndOfInput = 0,  // no token: the lexer refused the line
  // Letters (either case) and punctuation.
  kA = 258, kB, kC, kE, kF, kI, kL, kN, kP, kR, kS, kT,
  kSP = 270, kCRLF = 271, kCOMMA = 272, kSTRING = 273, kNUMBER = 274,
  // Base commands.
  kUSER = 275, kPASS, kACCT, kREIN, kQUIT, kPORT, kPASV, kTYPE, kSTRU, kMODE,
  kRETR, kSTOR, kAPPE, kMLFL, kMAIL, kMSND, kMSOM, kMSAM, kMRSQ, kMRCP,
  kALLO = 295, kREST, kRNFR, kRNTO, kABOR, kDELE, kCWD, kLIST, kNLST, kSITE,
  kSTAT = 305, kHELP, kNOOP, kMKD, kRMD, kPWD, kCDUP, kSTOU, kSMNT, kSYST,
  kSIZE = 315, kMDTM, kIDNT,
  // Later base commands (RFC 2389, 2428, 3659 and PRET).
  kEPRT = 318, kEPSV, kFEAT, kOPTS,
  // SITE sub-commands (STAT, HELP and USER reuse the base tokens).
  kWKUP = 322, kWKDN, kALUP, kALDN, kDELUSER, kSTATS, kEMULATE, kVERS, kWHO,
  kMSG = 331, kGIVE, kWELCOME, kMONTHUP, kGRPLOG, kNUKE, kTIME, kNUKES, kDUPE,
  kALIAS = 340, kMONTHDN, kTRAFFIC, kNEW, kADDIP, kDELIP, kCHANGE, kSYSLOG,
  kSEEN = 348, kDAYUP, kCHMOD, kSWHO, kKICK, kKILL, kADDUSER, kDAYDN, kREQLOG,
  kREADD = 357, kREQUEST, kCHPASS, kIDLE, kONEL, kGROUPS, kREQFILLED, kGROUP,
  kCHGRP = 365, kGPAL, kGPWK, kSEARCH, kFLAGS, kTAGLINE, kGINFO, kLOGINS,
  kCOLOR = 373, kUNDUPE, kGPAD, kUSERS, kWIPE, kTAKE, kUPDATE, kNUKETOP, kGPWD,
  kLASTON = 382, kERRLOG, kXDUPE, kGRPADD, kGRPDEL, kGRPNFO, kUNNUKE, kUNNUKES,
  kPASSWD = 390, kPURGE, kCDPATH, kSHOW, kGRPREN, kGADDUSER, kRENUSER, kPREDUPE,
  // More later base commands.
  kMLSD = 398, kMLST, kPRET,
};

static_assert(kT == 269 && kMRCP == 294 && kIDNT == 317 && kOPTS == 321);
static_assert(kDUPE == 339 && kREQLOG == 356 && kLOGINS == 372 && kGPWD == 381);
static_assert(kUNNUKES == 389 && kPREDUPE == 397 && kPRET == 400);

}  // namespace protocol
