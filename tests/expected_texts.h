// The fixed console texts as users see them, shared by the unit and the
// end-to-end tests.
#ifndef PTMOVE_TESTS_EXPECTED_TEXTS_H_
#define PTMOVE_TESTS_EXPECTED_TEXTS_H_

#include <string>

namespace ptmove::testsupport {

inline std::string bannerText(const std::string& program) {
  return "Programma per manovrare un brandeggio\nVersione 1.2\n\nNessun parametro passato.\n"
         "Per avere la lista delle opzioni digita:\n\t" +
         program + " -h \n";
}

inline std::string helpText(const std::string& program) {
  return "Programma per il controllo di un brandeggio.\n\n" + program +
         " -com s [-br n] [-ch x] -dir s [-vel n] -t n [-d]\n\n"
         "  -com s Selezione la porta seriale. Il parametro s indica il nome della\n"
         "\t porta come ad esempio COM1.\n"
         "  -br n  Seleziona la velocita' della porta seriale. Questo e' un parametro\n"
         "\t opzionale. Per default n e' pari a 2400.\n"
         "  -ch x  Imposta l'indirizzo esadecimale della scheda. Questo e' un parametro\n"
         "\t opzionale. Per default dell'indirizzo e' impostato 0x01.\n"
         "  -dir s Selezione della direzione di movimento tramite il parametro s che\n"
         "\t puo' essere r (per destra), l (per sinistra), u (per alto),\n"
         "\t d (per basso),a (per auto)\n"
         "  -vel n Seleziona la velocita' del brandeggio, da un minimo di 0 a un massimo\n"
         "\t di 100. Questo e' un parametro opzionale e per default e' \n"
         "\t impostato a 100.\n"
         "  -t n   Imposta il tempo di movimento in secondi del brandeggio\n"
         "  -d     Visualizza tutti i parametri impostati e la stringa inviata\n\n";
}

}  // namespace ptmove::testsupport

#endif  // PTMOVE_TESTS_EXPECTED_TEXTS_H_
