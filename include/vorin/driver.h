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

/* ---- Device identification ---------------------------------------------
 * (added with the device commands)
 */

#ifdef __cplusplus
}
#endif
