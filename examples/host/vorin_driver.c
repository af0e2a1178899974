/*
 * vorin-driver: a sample printer-driver host, written against the C
 * interface of vorindriver only (vorin/driver.h), to show that a C host can
 * run a whole driver:
 *
 *   vorin-driver [options] NAME "in.txt;out.txt;cfg.txt"
 *
 * It resets the driver, fills parameter slots 0 and 1, sets the host
 * switches, reads the configuration, starts the run, serves the input file's
 * data records (one command each, see Usage) and finishes the run. The exit
 * status is the run's result code; the report's path and status line are
 * printed at the end.
 */
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include "vorin/driver.h"

/* Not a result code of the run: the command line itself was wrong. */
#define EXIT_USAGE 64
/* The run's code for an input data record that is no valid command. */
#define CODE_BAD_RECORD 12
/* The run's code for a printer answer that is no number. */
#define CODE_BAD_ANSWER 23
/* The run's code for a result record that could not be written. */
#define CODE_OUTPUT_WRITE 17

static const char kUsage[] =
    "Usage: vorin-driver [options] NAME \"INPUT;OUTPUT;CONFIG\"\n"
    "Runs the printer driver NAME over INPUT: reset, configuration, run start,\n"
    "one command per data record of INPUT, results as data records in OUTPUT,\n"
    "then the report (RAPORT.TXT unless CONFIG names another) and the exchange\n"
    "copies under $$$. Exit status: the run's result code (0 = success).\n"
    "\n"
    "Options:\n"
    "  --no-output        no output file: the parameter string is \"INPUT;CONFIG\"\n"
    "                     and results go to standard output\n"
    "  --rewrite          rewrite the output file (default: append, a commit per line)\n"
    "  --read-type        read the printer's type at the start\n"
    "  --read-number      read the printer's number at the start\n"
    "  --compare-number   the printer's number must be the input's device number\n"
    "  --count-plu        count the printer's article entries when identifying it\n"
    "  --high-range       article numbers of the high range\n"
    "  --input-version N  the input file's header 2 must carry version N\n"
    "  --help             this text\n"
    "  --version          the version of the driver library\n"
    "\n"
    "Commands (data records of INPUT, fields separated by TAB; numbers in\n"
    "decimal, hex as 10H or 0x10, or a quoted character '5'):\n"
    "  IDENTIFY             type, model and number of the printer (the type\n"
    "                       the start read with --read-type, else read now)\n"
    "  DEVNUMBER            the printer's number only\n"
    "  PLU                  how many articles the printer holds\n"
    "  READ a b             articles a..b, long records (written by the driver)\n"
    "  READSHORT a b        articles a..b, short records (both need OUTPUT)\n"
    "  ARTICLE a b          the article command for a..b\n"
    "  ARTICLE04 a b        command 04 for a..b\n"
    "  KEY k                press key k (1, 13 Enter, 27 Escape, '0'..'9')\n"
    "  KEYNUMBER v          type v (0..255) as three digits and Enter\n"
    "  TEXT item text       type a text for item 0..9\n"
    "  ESCAPES              Escape ten times\n"
    "  SEQUENCE             the fixed key sequence\n"
    "  STATUS               check line and printer status\n"
    "  DISPLAY n            read display line n\n"
    "  EXPECT n text        display line n must show text\n"
    "Each command adds one result record: COMMAND, TAB, result code, then its\n"
    "results. A command that fails ends the run with its code; a record that is\n"
    "no command ends it with code 12.\n";

static int SameWord(const char* a, const char* b) {
    for (; *a != 0 && *b != 0; ++a, ++b) {
        char x = *a >= 'a' && *a <= 'z' ? (char)(*a - 'a' + 'A') : *a;
        if (x != *b) return 0;
    }
    return *a == 0 && *b == 0;
}

/* One result record; a failed write ends the run with code 17. */
static void Result(const char* text) {
    int32_t out = vorin_output_handle();
    if (out < 0) {
        printf("$%s\n", text);
    } else if (!ZapisanoDoPlikuLinieDanych(out, text) && vorin_result_code() == 0) {
        vorin_set_result_code(CODE_OUTPUT_WRITE);
    }
}

/* "COMMAND<TAB>code[<TAB>detail]", cut to what a record can hold. */
static void ResultWith(const char* command, const char* detail) {
    char text[256];
    /* Cutting is meant here; testing the result says so to the compiler. */
    if (snprintf(text, sizeof text, "%s\t%u%s%s", command, (unsigned)vorin_result_code(),
                 detail[0] != 0 ? "\t" : "", detail) < 0) {
        text[0] = 0;
    }
    Result(text);
}

/* Printer text in a result record: a TAB, CR or LF in it would add a field
 * or split the record, so control bytes become blanks (as the library does
 * in the records it writes itself). */
static void Printable(char* text) {
    for (; *text != 0; ++text) {
        if ((unsigned char)*text < 0x20 || *text == 0x7F) *text = ' ';
    }
}

static int Number(const char* record, uint8_t field, uint32_t* value) {
    char text[256];
    return NapisZawieraDana(record, field, text) && PoprawnaLiczbaTypuLong(text, value);
}

static void ArticleRange(const char* command, const char* record) {
    uint32_t first = 0, last = 0, n, done = 0;
    char detail[32];
    if (!Number(record, 2, &first) || !Number(record, 3, &last) || first < 1 || last > 65535 ||
        first > last) {
        vorin_set_result_code(CODE_BAD_RECORD);
        ResultWith(command, "");
        return;
    }
    for (n = first; n <= last && vorin_result_code() == 0; ++n) {
        if (SameWord(command, "READ")) {
            OdczytanieArtykulu(n, n);
        } else if (SameWord(command, "READSHORT")) {
            OdczytanieArtykuluKrotkiego(n, n);
        } else if (SameWord(command, "ARTICLE")) {
            RozkazArtykulu(n, n);
        } else {
            RozkazArtykulu04(n, n);
        }
        if (vorin_result_code() == 0) ++done;
    }
    snprintf(detail, sizeof detail, "%lu", (unsigned long)done);
    ResultWith(command, detail);
}

/* Set when the run start read the type (--read-type). */
static int gTypeReadAtStart = 0;

static void Identify(int withType) {
    VorinDeviceType type;
    char detail[256];
    /* A type reading writes the header lines to the output file again; one
     * the run start made already is reported, not repeated. */
    if (withType && !gTypeReadAtStart) OdczytanieTypuUrzadzenia();
    if (vorin_result_code() == 0 && !OdczytanieNumeruUrzadzenia() && vorin_result_code() == 0) {
        /* The printer answered, but no number 0..255. */
        vorin_set_result_code(CODE_BAD_ANSWER);
    }
    vorin_get_device_type(&type);
    Printable(type.numberText);
    if (withType) {
        snprintf(detail, sizeof detail, "%.3s\t%u\t%.40s\t%.80s\t%.40s", type.numberText,
                 (unsigned)type.typeCode, type.modelName, type.description, type.identification);
    } else {
        snprintf(detail, sizeof detail, "%.3s", type.numberText);
    }
    ResultWith(withType ? "IDENTIFY" : "DEVNUMBER", detail);
}

static void Execute(const char* record) {
    char command[256], text[256], detail[256];
    uint32_t value = 0, line = 0;
    uint8_t b = 0;
    if (!NapisZawieraDana(record, 1, command)) command[0] = 0;
    detail[0] = 0;
    if (SameWord(command, "IDENTIFY")) {
        Identify(1);
    } else if (SameWord(command, "DEVNUMBER")) {
        Identify(0);
    } else if (SameWord(command, "PLU")) {
        if (OdczytanieLiczbyPLU(&value))
            snprintf(detail, sizeof detail, "%lu", (unsigned long)value);
        ResultWith("PLU", detail);
    } else if (SameWord(command, "READ") || SameWord(command, "READSHORT") ||
               SameWord(command, "ARTICLE") || SameWord(command, "ARTICLE04")) {
        ArticleRange(command, record);
    } else if (SameWord(command, "KEY") && NapisZawieraDana(record, 2, text) &&
               PoprawnaLiczbaTypuByte(text, &b)) {
        if (!NacisniecieKlawisza(b, 1) && vorin_result_code() == 0) {
            vorin_set_result_code(CODE_BAD_RECORD); /* not a key of the keypad */
        }
        ResultWith("KEY", "");
    } else if (SameWord(command, "KEYNUMBER") && Number(record, 2, &value) && value <= 255) {
        WpisanieLiczby(value, 1);
        ResultWith("KEYNUMBER", "");
    } else if (SameWord(command, "TEXT") && Number(record, 2, &value) && value <= 9 &&
               NapisZawieraDana(record, 3, text)) {
        WpisanieTekstu((uint8_t)value, text);
        ResultWith("TEXT", "");
    } else if (SameWord(command, "ESCAPES")) {
        SeriaEscape();
        ResultWith("ESCAPES", "");
    } else if (SameWord(command, "SEQUENCE")) {
        SekwencjaKlawiszy();
        ResultWith("SEQUENCE", "");
    } else if (SameWord(command, "STATUS")) {
        uint8_t ready = StanDrukarki();
        snprintf(detail, sizeof detail, "%u\t%u", (unsigned)ready, (unsigned)vorin_line_state());
        ResultWith("STATUS", detail);
    } else if (SameWord(command, "DISPLAY") && Number(record, 2, &line) && line <= 255) {
        if (!OdczytanieTekstuDrukarki((uint8_t)line, text)) text[0] = 0;
        Printable(text);
        ResultWith("DISPLAY", text);
    } else if (SameWord(command, "EXPECT") && Number(record, 2, &line) && line <= 255) {
        if (!NapisZawieraDana(record, 3, text)) text[0] = 0;
        snprintf(detail, sizeof detail, "%u",
                 (unsigned)ZgodnoscTekstuDrukarki((uint8_t)line, text));
        ResultWith("EXPECT", detail);
    } else {
        fprintf(stderr, "vorin-driver: not a command: %s\n", record);
        vorin_set_result_code(CODE_BAD_RECORD);
        ResultWith(command[0] != 0 ? command : "?", "");
    }
}

static void Serve(void) {
    char record[256];
    uint8_t formatError = 0;
    while (vorin_result_code() == 0 &&
           OdczytanoZPlikuLinieDanych(vorin_input_handle(), record, &formatError)) {
        Execute(record);
    }
    if (formatError && vorin_result_code() == 0) vorin_set_result_code(CODE_BAD_RECORD);
}

int main(int argc, char** argv) {
    int outputFile = 1, i;
    int switches[8] = {0};
    uint32_t version = 0;
    const char* operands[2] = {NULL, NULL};
    int operandCount = 0;
    char text[256];

    for (i = 1; i < argc; ++i) {
        const char* a = argv[i];
        if (strcmp(a, "--help") == 0 || strcmp(a, "-h") == 0) {
            fputs(kUsage, stdout);
            return 0;
        } else if (strcmp(a, "--version") == 0) {
            printf("vorin-driver %s\n", vorin_version());
            return 0;
        } else if (strcmp(a, "--no-output") == 0) {
            outputFile = 0;
        } else if (strcmp(a, "--rewrite") == 0) {
            switches[0] = VORIN_REWRITE;
        } else if (strcmp(a, "--read-type") == 0) {
            switches[1] = VORIN_READ_TYPE;
            gTypeReadAtStart = 1;
        } else if (strcmp(a, "--read-number") == 0) {
            switches[2] = VORIN_READ_NUMBER;
        } else if (strcmp(a, "--compare-number") == 0) {
            switches[3] = VORIN_COMPARE_NUMBER;
        } else if (strcmp(a, "--count-plu") == 0) {
            switches[4] = VORIN_COUNT_PLU;
        } else if (strcmp(a, "--high-range") == 0) {
            switches[5] = VORIN_HIGH_RANGE;
        } else if (strcmp(a, "--input-version") == 0 && i + 1 < argc &&
                   PoprawnaLiczbaTypuLong(argv[i + 1], &version)) {
            ++i;
        } else if (a[0] == '-' && a[1] == '-') {
            fprintf(stderr, "vorin-driver: unknown option %s\n\n%s", a, kUsage);
            return EXIT_USAGE;
        } else if (operandCount < 2) {
            operands[operandCount++] = a;
        } else {
            fprintf(stderr, "vorin-driver: too many arguments\n\n%s", kUsage);
            return EXIT_USAGE;
        }
    }
    if (operandCount != 2 || strlen(operands[0]) > 255 || strlen(operands[1]) > 255) {
        fprintf(stderr,
                "vorin-driver: NAME and the parameter string (at most 255 characters) "
                "are needed\n\n%s",
                kUsage);
        return EXIT_USAGE;
    }

    ZerowanieStanuSterownika();
    vorin_set_slot(0, operands[0]);
    vorin_set_slot(1, operands[1]);
    vorin_set_switch(VORIN_OUTPUT_FILE, (uint8_t)outputFile);
    for (i = 0; i < 8; ++i) {
        if (switches[i] != 0) vorin_set_switch(switches[i], 1);
    }
    vorin_set_expected_version(version);

    OdczytanieKonfiguracji();
    if (vorin_result_code() == 0 && StartSterownika() == 0) Serve();
    ZakonczenieSterownika();

    vorin_get_driver_file_name(2, text);
    printf("report: %s\n", text);
    vorin_get_header_line(2, text);
    printf("status: %s\n", text);
    return vorin_result_code();
}
