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
/* Status of the most recent LiczbaOsmiobajtowaZNapisu in this process. */
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
 * see README). wParam is the driver id (the override set by the
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
uint8_t vorin_server_post(uint32_t driver_id, char letter, uint32_t value);
/* Server role: the next driver message ('A'..'Z') from any driver, waiting up
 * to wait_ms (0xFFFFFFFF: no bound); the sender in *driver_id, its value in
 * *value (either may be NULL). 0 when none came. */
char vorin_server_fetch(uint32_t* driver_id, uint32_t* value, uint32_t wait_ms);

/* ---- Device identification ---------------------------------------------
 * (added with the device commands)
 */

#ifdef __cplusplus
}
#endif
