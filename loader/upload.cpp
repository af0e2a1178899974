#include "loader/upload.h"

#include "link/commands.h"
#include "link/link.h"
#include "loader/codepage_image.h"

namespace vorin::loader {

namespace {

constexpr unsigned kHalf = kBlockSize / 2;

void SendBlock(const unsigned char* block, uint32_t printerBlock) {
    using namespace vorin::link;
    SumaKontrolna = 0;
    ObszarNadawania[1] = BajtSlowa(2, printerBlock);
    ObszarNadawania[2] = BajtSlowa(1, printerBlock);
    for (unsigned i = 0; i < kHalf; ++i) ObszarNadawania[3 + i] = block[i];
    for (unsigned p = 1; p <= kHalf + 2; ++p) AktualizacjaCRC(ObszarNadawania[p]);
    WykonanieRozkazu(kCmdWriteBlock, 1, kHalf + 2, 1);
    if (KodWyniku != Kod::Sukces) return;

    for (unsigned i = 0; i < kHalf; ++i) {
        ObszarNadawania[1 + i] = block[kHalf + i];
        AktualizacjaCRC(block[kHalf + i]);
    }
    ObszarNadawania[kHalf + 1] = BajtSlowa(2, SumaKontrolna);
    ObszarNadawania[kHalf + 2] = BajtSlowa(1, SumaKontrolna);
    WymianaRamki(Prefiks::Kontynuacja, kCmdContinuation, 0, kHalf + 2, 1);
    // The printer's verdict on the whole block is the status byte of the
    // second half: 1 for a checksum error, 2 for a verification error. The link
    // reports 1 as an unexpected answer (23) but 2 as printer status 102, so
    // both are looked for here; otherwise a verification error would end the
    // upload as "inny blad" instead of sending the block again.
    const uint8_t status = ObszarOdpowiedzi[1];
    if ((KodWyniku == Kod::NiepoprawnaOdpowiedz &&
         (status == Kod::BladSumyCRC || status == Kod::BladWeryfikacji)) ||
        (KodWyniku == 100 + Kod::BladWeryfikacji && status == Kod::BladWeryfikacji)) {
        KodWyniku = status;
    }
}

}  // namespace

uint8_t UploadImage(const unsigned char* image, const std::function<void(unsigned)>& accepted) {
    using namespace vorin::link;
    unsigned retries = 0;
    unsigned index = 0;
    while (index < kBlockCount) {
        SendBlock(image + static_cast<std::size_t>(index) * kBlockSize, index + kFirstPrinterBlock);
        if (KodWyniku == Kod::BladSumyCRC || KodWyniku == Kod::BladWeryfikacji) {
            if (++retries > kMaxRetries) break;
            KodWyniku = Kod::Sukces;
            continue;
        }
        if (KodWyniku != Kod::Sukces) break;
        retries = 0;
        if (accepted) accepted(index);
        ++index;
    }
    return KodWyniku;
}

}  // namespace vorin::loader
