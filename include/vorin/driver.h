/*
 * vorindriver: the printer link and the printer-driver library's exported
 * functions (text-file records, field validators, device identification).
 *
 * Results are 1 (true) or 0 (false) unless a comment says otherwise.
 * A "text buffer" is a char[256] owned by the caller and holding a
 * NUL-terminated text of at most 255 characters. Output texts are always
 * written inside those 256 bytes. An input buffer whose first 256 bytes hold
 * no NUL is an over-long text: readers and validators refuse it, functions
 * that edit a text in place cut it to 255 characters.
 */
#pragma once

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The package's version, "major.minor.patch": the same text as vorinserial's
 * vorin_version (also declared in vorin/serial.h). A static text. */
const char* vorin_version(void);

/* ---- Text-file records ------------------------------------------------
 * Files live on integer handles, -1 meaning "not open". Modes of
 * OtwartoPlik: 0 read (must exist), 1 write (created or truncated),
 * 2 append (created or kept, every write at the end), 3 read and write
 * (created or kept). Always binary. While the exclusive-open switch is on
 * (the default) an open denies every other open of the same file, also by
 * other processes. Lines end with the library's line terminator (CR LF
 * unless the driver configuration sets another); a line holds at most 255
 * characters. Record kinds by first character: ';' comment, '#' header,
 * '$' data. Fields are separated by TAB, sub-fields by ':', parameters by ';'.
 */
uint8_t OtwartoPlik(int32_t* handle, const char* path, uint8_t mode);
uint8_t ZamknieciePliku(int32_t* handle);
uint8_t MoznaOtworzycPlik(const char* path, uint8_t mode);
/* 1 when the position equals the file's size, and for a handle that is not open. */
uint8_t Moje_feof(int32_t handle);
/* Durable and visible to other processes when it returns 1. */
uint8_t ZatwierdzeniePliku(int32_t handle);

uint8_t OdczytanoZPlikuLinie(int32_t handle, char* text);
uint8_t OdczytanoZPlikuKonkretnaLinie(int32_t handle, char kind, char* text, uint8_t* formatError);
uint8_t OdczytanoZPlikuLinieDanych(int32_t handle, char* text, uint8_t* formatError);
uint8_t OdczytanoZPlikuLinieNaglowka(int32_t handle, char* text, uint8_t* formatError);
uint8_t ZapisanoDoPlikuLinie(int32_t handle, const char* text);
uint8_t ZapisanoDoPlikuLinieDanych(int32_t handle, const char* text);
uint8_t ZapisanoDoPlikuNaglowek(int32_t handle);

void OczyszczenieLinii(char* text);
uint8_t NapisZawieraPole(const char* text, uint8_t n, char separator, char* field);
uint8_t NapisZawieraDana(const char* text, uint8_t n, char* field);
uint8_t NapisZawieraPodpole(const char* text, uint8_t n, char* field);
uint8_t NapisZawieraParametr(const char* text, uint8_t n, char* field);

void ZerowanieNapisu(char* text);
/* 0 (text unchanged) when the text already holds 255 characters. */
uint8_t DopisanieZnaku(char* text, char c);
uint8_t WstawienieZnakuNaPoczatek(char c, char* text);
void FragmentNapisu(char* text, uint8_t from, uint8_t to);
uint8_t NapisyRowne(const char* a, const char* b);

/* ---- Digit-string arithmetic -------------------------------------------
 * Eight- and six-byte numbers are unsigned, least significant byte first.
 * The conversion status: 0 valid, 1 a character other than a digit or a
 * blank, 2 the value does not fit in eight bytes.
 */
/* Returns the conversion status; value receives the number (0 unless status 0). */
uint8_t LiczbaOsmiobajtowaZNapisu(const char* text, uint8_t value[8]);
/* Status of the most recent LiczbaOsmiobajtowaZNapisu in this process.
 * The one exported name that the protocol does not fix and that is not
 * vorin_snake_case: it was exported under this name before the rule, and
 * callers may use it, so it stays. */
uint8_t StatusKonwersjiLiczby(void);
/* Full decimal text, no leading zeros, "0" for zero; up to 20 digits. */
void NapisZLiczbyOsmiobajtowej(const uint8_t value[8], char* text);
void NapisZLiczbySzesciobajtowej(const uint8_t value[6], char* text);

/* ---- Field validators ---------------------------------------------------
 * Every integer validator accepts decimal (10), hexadecimal (10H, $10, H10,
 * 0x10) and quoted characters ('A', first character in the low byte), with
 * blanks around. On rejection: six- and eight-byte results are zeros, long
 * is 0, word/byte/boolean/parity keep the caller's value, the range
 * validator keeps the parsed value even when it is out of range (0 when the
 * text is no long at all).
 */
uint8_t ZnakJestCyfra(char c, uint8_t* value);
uint8_t ZnakJestKropkaLubPrzecinkiem(char c);
void UsuniecieSpacji(char* text);
uint8_t PoprawnaLiczbaSzesciobajtowaDec(const char* text, uint8_t value[6]);
uint8_t PoprawnaLiczbaSzesciobajtowaHex(const char* text, uint8_t value[6]);
uint8_t PoprawnaLiczbaSzesciobajtowaWCudzyslowie(const char* text, uint8_t value[6]);
uint8_t PoprawnaLiczbaSzesciobajtowa(const char* text, uint8_t value[6]);
uint8_t PoprawnaLiczbaTypuLong(const char* text, uint32_t* value);
uint8_t PoprawnaLiczbaZPodanegoZakresu(const char* text, uint32_t low, uint32_t high,
                                       uint32_t* value);
uint8_t PoprawnaLiczbaTypuWord(const char* text, uint32_t* value);
uint8_t PoprawnaLiczbaTypuByte(const char* text, uint8_t* value);
uint8_t PoprawnaLiczbaTypuBoolean(const char* text, uint8_t* value);
/* "12,50" gives digits 125 and 1 decimal place. */
uint8_t PoprawnaLiczbaZmiennoprzecinkowa(const char* text, uint32_t* digits, uint8_t* decimals);
uint8_t PoprawnaLiczbaOsmiobajtowa(const char* text, uint8_t value[8]);
/* 0 none, 1 odd, 2 even. */
uint8_t PoprawnyNapisOpisujacyParzystosc(const char* text, uint8_t* parity);
/* Bytes 0..2 the three values, bytes 3..8 their two digits each. */
uint8_t PoprawnaData(const char* text, uint8_t hexDigits, uint8_t date[9]);
uint8_t PoprawnyCzas(const char* text, uint8_t hexDigits, uint8_t time[9]);
/* Significant bytes of a six-byte number, 1 to 6. */
uint8_t DlugoscLiczbySzesciobajtowej(const uint8_t value[6]);

/* ---- Diagnostic printer ------------------------------------------------
 * KomunikatDiagnostyczny builds one line "***DEBUG*" + the formatted text,
 * writes it to standard output and appends it to "debug.txt" in the current
 * folder. `reserved` has no effect (pass 0). Conversions: %c (an int, its low
 * byte; nothing for 0), %d (an int, signed; "%d3" pads to 3 digits, two width
 * digits count units first then tens: "%d12" is width 21), %s (a text; a width
 * is read and ignored), %F (a text appended to the debug file name for this
 * call). Any other conversion adds nothing and takes no argument. The literal
 * text after a conversion keeps its first 18 characters; a format without any
 * '%' is printed whole. After a line with conversions the call reads one
 * character from standard input (returns at once at end of input) and the
 * file gets two more line breaks. Limits, cut at: line 225 characters, text
 * argument 149, debug file name 15. A format of 19 parts or more prints
 * "ERROR: funkcji Printf, za duzo parametrow !!!" and nothing else; a lone
 * '%' at the end is ignored.
 */
void KomunikatDiagnostyczny(int32_t reserved, const char* format, ...);
/* Appends text (cut at 299 characters) and a line break to the named file,
 * opened in text mode; silently nothing when it cannot be opened. */
void DopisanieDoPlikuDebug(const char* fileName, const char* text);
/* value as decimal text into output (at least 12 bytes), returns output.
 * isSigned: a negative value gets "-"; otherwise the value is unsigned. The
 * last `digits` positions (up to 10) are always written, zero-padded. */
char* LiczbaNaNapis(int32_t value, char* output, uint8_t digits, uint8_t isSigned);

/* ---- Server command channel ---------------------------------------------
 * Messages: (message number, wParam, lParam) broadcast to every participant
 * (Windows: PostMessageA to HWND_BROADCAST; POSIX: the datagram socket bus,
 * docs/server-channel.md). wParam is the driver id (the override set by the
 * configuration, else the process id); lParam bits 0-7 a letter, bits 8-31 a
 * value (capped at 0xFFFFFF). Drivers post upper-case letters, servers
 * lower-case commands: 'a' AVAILABLE -> 'A' 0; 'b' BREAK -> 'B' 0 and the
 * pending request ends with result code 56; 'c' COUNTER -> 'C' requests made;
 * 'l' LINES -> 'L' data lines read; 'o' OUTLINES -> 'O' data lines written;
 * 's' SUSPEND -> closes the port, 'S' 0; 'r' RESUME -> reopens it, 'R' 0;
 * any other letter: result code 54, no answer. Commands are served at the
 * start of each request exchange, one per request; a suspended driver waits
 * there and serves commands until RESUME. Message number 0 = channel off.
 * A fetch reads the calling thread's own queue: fetch on the thread that
 * posts and runs the exchanges.
 */
uint32_t vorin_message_number(void);
void vorin_set_message_number(uint32_t number);
/* Driver role: posts letter with value; 1 when posted. */
uint8_t KomunikatDoSerwera(char letter, uint32_t value);
/* Driver role: the next command addressed to this driver ('a'..'z'), its value
 * in *value (may be NULL); 0 when none waits or the channel is off. */
char RozkazSerwera(uint32_t* value);
/* Server role: posts command `letter` to the driver with that id. */
uint8_t vorin_server_post(uint32_t driverId, char letter, uint32_t value);
/* Server role: the next driver message ('A'..'Z') from any driver, waiting up
  * to waitMs (0xFFFFFFFF: no bound); the sender in *driverId, its value in
 * *value (either may be NULL). 0 when none came. */
char vorin_server_fetch(uint32_t* driverId, uint32_t* value, uint32_t waitMs);
/* Whether this process can use the channel's message bus: 1 when it can;
 * 0 when not, with one line saying why in why[256] (may be NULL), e.g. a bus
 * folder open to other users on POSIX, or no window on Windows. */
uint8_t vorin_channel_usable(char* why);
/* 1 when a process with this id takes part in the message bus. It tells a
 * driver that is not running from one that is slow to answer, for drivers
 * that use their process id; a driver with an id override is not found. On
 * Windows, as on POSIX, the bus is looked at for a participant of that
 * process. */
uint8_t vorin_channel_has_process(uint32_t pid);

/* ---- Running a driver (the host's interface) -----------------------------
 * A host program runs one driver over one input file:
 *
 *   ZerowanieStanuSterownika();
 *   vorin_set_slot(0, "MYDRV");                        driver name
 *   vorin_set_slot(1, "in.txt;out.txt;drv.cfg");       parameter string
 *   vorin_set_switch(VORIN_OUTPUT_FILE, 1);            ... and the other switches
 *   OdczytanieKonfiguracji();
 *   if (StartSterownika() == 0) {
 *       ... read data records from vorin_input_handle(), run device
 *       commands, write data records to vorin_output_handle() ...
 *   }
 *   ZakonczenieSterownika();                           report, exchange copies
 *   return vorin_result_code();
 *
 * Parameter string: input file; then the output file when VORIN_OUTPUT_FILE
 * is on; then the driver configuration file (each optional, separated by
 * ';'). Without a configuration file the five driver files are KONFIG.TXT,
 * RAPORT.TXT, KOMENT.TXT, MODKONF.TXT and ECRTBUF.TXT, in the current
 * directory when KONFIG.TXT is there, else beside the input file. Both '/'
 * and '\' separate directories.
 *
 * Every step works only while the result code is 0 and leaves its failure
 * in the result code: 1-5 parameters, 6-9 a file that does not open, 10, 11
 * and 25 the input file's headers, 13, 14, 16 the device configuration entry,
 * 17 and 18 header lines not written, 19 device number outside 1..99, 22 the
 * printer's number differs, 54 the driver configuration file, 62 the port.
 * ZakonczenieSterownika writes the report (run description, status line
 * "code<TAB>; comment (file)", identifier) whatever the start left, and when
 * a directory "$$$" exists in the current directory appends a copy of every
 * file of the run to $$$/<input name>.IN, .OUT, .RAP, .KON and .SER.
 */
uint8_t vorin_result_code(void);
void vorin_set_result_code(uint8_t code);
/* The line state word: 0 no problem; from the line check 256 (DSR does not
 * follow RTS) or 257 (no carrier); from StanDrukarki 510 while it runs, then
 * 0 or one of 258 to 263 (the printer is not ready, result code 57). */
uint16_t vorin_line_state(void);

/* Parameter slots 0..3; a text longer than 255 characters is cut. */
void vorin_set_slot(uint8_t slot, const char* text);
void vorin_get_slot(uint8_t slot, char text[256]);

/* Host switches, all off at load except VORIN_EXCLUSIVE_OPEN.
 * VORIN_OUTPUT_FILE: the parameter string names an output file.
 * VORIN_REWRITE: the output file is rewritten instead of appended to, and
 *   written lines are not committed one by one (faster).
 * VORIN_READ_TYPE, VORIN_READ_NUMBER: the run start reads the printer's type,
 *   its number; VORIN_COMPARE_NUMBER: that number must be the input's device
 *   number (else 22; 23 when the answer holds no number). The number alone
 *   records nothing in the description file: only a printer whose type was
 *   read is recorded. VORIN_COUNT_PLU: the type reading counts article
 *   entries. VORIN_HIGH_RANGE: article numbers of the high range (cleared by
 *   the reset). VORIN_EXCLUSIVE_OPEN: files are opened for this program alone. */
enum VorinSwitch {
    VORIN_OUTPUT_FILE = 1,
    VORIN_REWRITE,
    VORIN_READ_TYPE,
    VORIN_READ_NUMBER,
    VORIN_COMPARE_NUMBER,
    VORIN_COUNT_PLU,
    VORIN_HIGH_RANGE,
    VORIN_EXCLUSIVE_OPEN
};
void vorin_set_switch(int which, uint8_t on);
/* The version the input file's header 2 must carry ("<n> " in its field 1);
 * 0 (the default) checks nothing. Version 1 also requires header 1 to be the
 * run description line of this run (or of the minute before). */
void vorin_set_expected_version(uint32_t version);
/* Header lines 1..3: run description, status line, identifier. */
void vorin_get_header_line(uint8_t n, char text[256]);
/* Handles of the run's input and output files, -1 when not open. After a
 * successful start the input file stands at its first data record. */
int32_t vorin_output_handle(void);
int32_t vorin_input_handle(void);
/* Driver file names 1..5 as the run uses them: device configuration, report,
 * comments, module configuration, exchange buffer (printers' descriptions). */
void vorin_get_driver_file_name(uint8_t n, char text[256]);

void ZerowanieStanuSterownika(void);
void OdczytanieKonfiguracji(void);
/* Returns the result code. */
uint8_t StartSterownika(void);
void ZakonczenieSterownika(void);

/* ---- Device identification, articles, keypad, status, text --------------
 * Every operation talks to the printer over the open port and leaves its
 * outcome in the current result code (0 = success); the results below are
 * 1/0 unless said otherwise. They run on the driver's one thread.
 */

/* The device-type record, fields in this order. Texts are text buffers. */
typedef struct VorinDeviceType {
    uint8_t deviceNumber; /* as read by OdczytanieNumeruUrzadzenia */
    uint8_t typeCode;     /* decides the model */
    uint8_t version;
    uint8_t variant;          /* variant letter, 0 when none */
    uint8_t generation;       /* 2 for an extended type (100 and above but 111, 112), else 1 */
    uint8_t modelA;           /* 4, 5 or 6 */
    uint8_t modelB;           /* 40, 18 or 24 */
    uint32_t pluCount;        /* highest article number; 65535 = not counted; 0 after reset */
    char identification[256]; /* the printer's identification string */
    char numberText[256];     /* the two characters of the number answer */
    char typeText[256];       /* type code in decimal */
    char description[256];    /* e.g. "Mirto I gen. ver. 05" */
    char modelName[256];      /* "Kalen", "Mirto", "Sovel", "Trina", "Pello Vita", "Braxo" */
    char versionText[256];    /* at least two digits */
    char variantText[256];    /* the variant letter, empty when none */
    char generationText[256]; /* "I" or "II" */
    char pluText[256];        /* the count, or "?????" when not counted */
    char sourceText[256];     /* where the identification came from */
} VorinDeviceType;

/* Bytes and count to 0, texts emptied. A null record clears nothing. */
void ZerowanieSzczegolowychDanychOTypieUrzadzenia(VorinDeviceType* record);
/* Command 0xC0: 1 when the printer gave a valid number (a byte). */
uint8_t OdczytanieNumeruUrzadzenia(void);
/* Reads type and identification (0xFE, or 0xFF and 0x5B for older printers,
 * then 0x71), names the model, looks the printer up in the description file
 * (the fifth driver file, "ECRTBUF.TXT" by default) or counts its articles
 * and records it there, and rewrites header line 3. Outcome: the result code
 * (60 a description record refused, 59 file not writable or held locked by
 * another driver for 10 s, 61 write failed, 17 header lines not written to
 * the output file). Control bytes of the identification (TAB, CR, LF, ...)
 * become blanks; a NUL ends it. A recorded printer is recognised whatever
 * VORIN_COUNT_PLU says now; with the switch on and no count recorded, its
 * articles are counted and the source text ends in ", liczba PLU odczytana
 * z urzadzenia". */
uint8_t OdczytanieTypuUrzadzenia(void);
/* A copy of the library's record. */
void vorin_get_device_type(VorinDeviceType* out);

/* Articles. For the operations with first and last, nothing happens when
 * last < first (nothing is sent, the result code is left, and the two
 * command operations return 0); otherwise only the first number is handled.
 * A number the printer's two bytes cannot carry (above 65535, or above 512
 * with VORIN_HIGH_RANGE where 65023 is added) is never sent: it is the
 * printer's missing article, skipped by the reads and 202 for the commands.
 * Control bytes of article names become blanks in the records. */
/* Command 0x91; 65535 without an exchange for printers that have no count query. */
uint8_t OdczytanieLiczbyPLU(uint32_t* count);
/* Command 0xAC; writes one data record to the output file. Article missing
 * (202) is skipped with code 0; an invalid value gives 23 and a failed write
 * 17, and both end the run. */
void OdczytanieArtykulu(uint32_t first, uint32_t last);
/* Command 0x03, the short record; no value checks. */
void OdczytanieArtykuluKrotkiego(uint32_t first, uint32_t last);
/* Command 0x9F for an extended type, else 0xF1. */
uint8_t RozkazArtykulu(uint32_t first, uint32_t last);
/* Command 0x04. */
uint8_t RozkazArtykulu04(uint32_t first, uint32_t last);
/* For result codes 200, 209, 221 to 227: stores the code in *code, sets the
 * result code to 0 and writes "NNNNN<TAB>code" to the output file. */
uint8_t ZapisanieBleduArtykulu(uint32_t number, uint8_t* code);

/* Keypad (command 0xF9). Keys: 1, 13 Enter, 27 Escape, '0' to '9'; any
 * other key sends nothing and gives 0. pause: 100 ms after the key. */
uint8_t NacisniecieKlawisza(uint8_t key, uint8_t pause);
/* The low byte of value as three digits and Enter. */
uint8_t WpisanieLiczby(uint32_t value, uint8_t pause);
uint8_t SeriaEscape(void);       /* Escape ten times */
uint8_t SekwencjaKlawiszy(void); /* ten Escapes, key 1, 7, Enter */
/* Digit key of item (0-9), 1, Enter, then every character as its code. */
uint8_t WpisanieTekstu(uint8_t item, const char* text);

/* Line check and the status queries 0x9B, 0x94, 0x95, 0x96, 0x66; the first
 * problem found sets the line state word (258 to 263, result code 57) or
 * the result code (47, 101, 48, 223, 227). 1 when the printer is ready. */
uint8_t StanDrukarki(void);
/* Command 0x9D: display line `line` as 40 (form 0) or 20 (form 1) characters. */
uint8_t OdczytanieTekstuDrukarki(uint8_t line, char text[256]);
uint8_t ZgodnoscTekstuDrukarki(uint8_t line, const char* expected);

#ifdef __cplusplus
}
#endif
