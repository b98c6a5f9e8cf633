// The string table of the test environment, one row per text: Italian, then English.
#include "testbench/texts.h"

#include <array>

namespace testbench {
namespace {

struct text_row {
  txt id;
  std::string_view italian;
  std::string_view english;
};

constexpr text_row kTexts[] = {
    {txt::s134_confirm_disconnect,
     "Terminare la connessione con la stampante POS ? Premere il pulsante Si per confermare l'operazione.",
     "End the connection with the POS printer? Press Yes to confirm."},
    {txt::s149_close_while_connected,
     "La connessione con la stampante POS è ancora attiva. Chiudere la connessione prima di uscire?",
     "The connection with the POS printer is still active. Close the connection before leaving?"},
    {txt::s153_version_next_connection,
     "La nuova versione OPOS della lista proprietà sarà usata alla prossima connessione.",
     "The new OPOS version of the property list takes effect at the next connection."},
    {txt::s154_unknown_file_type,
     "Il file selezionato non appartiene a nessuno dei file gestiti dall'applicazione.",
     "The selected file is not of a type this application handles."},
    {txt::s156_claim_retry,
     "(E) : Il controllo attualmente è bloccato da un'altra applicazione.|      Premere il pulsante Si per "
     "eseguire un ulteriore tentativo di connessione.",
     "(E) : The control is held by another application.|      Press Yes to try to connect again."},
    {txt::s157_no_printer_selected, "(E) : Non è stato selezionato il modello di stampante a cui connettersi",
     "(E) : No printer model has been selected to connect to"},
    {txt::s158_empty_command, "Inserire il comando da inviare alla stampante.",
     "Enter the command to send to the printer."},
    {txt::s159_zero_count, "Inserire il numero di byte da leggere.", "Enter the number of bytes to read."},
    {txt::s161_rich_edit_failed,
     "Errore nel caricamento della libreria di sistema Riched20.dll.\nLavvio dell'applicazione viene annullata",
     "The system's text editing library could not be loaded.\nThe application does not start."},
    {txt::s500_close_error, "(E) : Errore chiusura comunicazione", "(E) : Error closing the communication"},
    {txt::s501_connect_error, "(E) : Errore nell'avvio della comunicazione con la stampante.",
     "(E) : Error starting the communication with the printer."},
    {txt::s502_create_error, "(E) : Errore nella creazione del controllo POSPrinter.",
     "(E) : Error creating the POSPrinter control."},
    {txt::s503_close_error_detail,
     "(E) : Errore nella chiusura del canale di comunicazione verso la stampante attiva.|      Codice di errore "
     "restituito ",
     "(E) : Error closing the communication channel to the active printer.|      Error code returned "},
    {txt::s507_driver_init_error, "(E) : Errore di inizializzazione del driver opos",
     "(E) : Error initialising the OPOS driver"},
    {txt::s602_still_connected, "(W) : Connessione ancora attiva", "(W) : Connection still active"},
    {txt::s701_command_failed, "      Comando terminato con errore", "      Command ended with an error"},
    {txt::s710_connection_ended, "(I) : Connessione terminata", "(I) : Connection ended"},
    {txt::s711_connection_active, "(I) : Connessione attiva", "(I) : Connection active"},
    {txt::s712_disconnect_ok, "(I) : Termine della connessione avvenuta con successo",
     "(I) : The connection was ended successfully"},
    {txt::s812_create_error_detail,
     "      Errore nella creazione del controllo POSPrinter.|      Impossibile creare l'interfaccia IDispatch. "
     "Verificare la corretta registrazione del controllo.",
     "      Error creating the POSPrinter control.|      The IDispatch interface cannot be created. Check that "
     "the control is registered."},
    {txt::s814_needs_connection, "      L'operazione richiede una connessione attiva con la stampante.",
     "      The operation needs an active connection with the printer."},

    {txt::app_title, "POS Application environment", "POS Application environment"},
    {txt::msgbox_caption, "Informazione all'utente", "Information"},
    {txt::button_ok, "OK", "OK"},
    {txt::button_cancel, "Annulla", "Cancel"},
    {txt::button_yes, "Si", "Yes"},
    {txt::button_no, "NO", "No"},
    {txt::status_no_connection, "Nessuna Connessione", "NO Connection(s)"},
    {txt::status_active_suffix, " attiva", " active"},
    {txt::tree_root, "Stampanti", "Printers"},
    {txt::tree_model, "Modello, %s", "Printer, %s"},
    {txt::tree_port, "Porta, %s", "Port, %s"},
    {txt::connecting_caption, "Avvio connessione", "Connecting"},
    {txt::connecting_text, "Operazione in corso, attendere prego...", "Working, please wait..."},
    {txt::event_status, "(V) : Ricevuto evento di <StatusUpdateEvent>", "(V) : Received <StatusUpdateEvent>"},
    {txt::event_status_detail, "      Status della stampante: ", "      Printer status: "},
    {txt::event_output, "(V) : Ricevuto evento di <OutputCompleteEvent>", "(V) : Received <OutputCompleteEvent>"},
    {txt::event_output_detail, "      Identificativo di fine esecuzione: ", "      Output identifier: "},
    {txt::event_direct, "(V) : Ricevuto evento di <DirectIOEvent>", "(V) : Received <DirectIOEvent>"},
    {txt::event_direct_detail, "      Print buffer: ", "      Print buffer: "},
    {txt::event_error, "(V) : Ricevuto evento di <ErrorEvent>", "(V) : Received <ErrorEvent>"},
    {txt::event_error_detail, "      Fare riferimento alla finestra di dialogo di errore",
     "      See the error window"},
    {txt::error_window_title, "Driver OPOS, errore di esecuzione", "OPOS driver, execution error"},
    {txt::error_window_async, "Errore di esecuzione in asincrono", "Asynchronous execution error"},
    {txt::error_window_code, "Codice di errore, ", "Error code, "},
    {txt::error_window_extended, "Codice esteso, ", "Extended code, "},
    {txt::error_window_more, "Informazioni addizionali", "Additional information"},
    {txt::error_window_device, "Periferica di errore, PTR_S_RECEIPT", "Error station, PTR_S_RECEIPT"},
    {txt::error_window_description, "Descrizione errore, ", "Error description, "},
    {txt::error_window_retry, "Riprova", "Retry"},
    {txt::error_window_clear, "Elimina tuti i comandi", "Clear all commands"},
    {txt::exec_error, "Errore di esecuzione", "Execution error"},
    {txt::exec_error_detail, "Il comando ha causato il seguente codice di errore ",
     "The command caused the following error code "},
    {txt::command_ok, "      Comando eseguito con successo", "      Command completed successfully"},
    {txt::station_set, "(I) : Impostazione stazione di output", "(I) : Output station set"},
    {txt::station_set_detail, "      Stazione corrente di output", "      Current output station"},
    {txt::transaction_off, "(W) : Modalità transazione OFF", "(W) : Transaction mode OFF"},
    {txt::transaction_on, "(W) : Modalità transazione ON", "(W) : Transaction mode ON"},
    {txt::rotation_off, "(W) : Modalità Rotazione OFF", "(W) : Rotation mode OFF"},
    {txt::rotation_on, "(W) : Modalità Rotazione ON", "(W) : Rotation mode ON"},
    {txt::barcode_ok, "(I) : Esecuzione comando di stampa codice a barre", "(I) : Bar code print command"},
    {txt::direct_error, "Errore di esecuzione\r\n%s\r\n", "Execution error\r\n%s\r\n"},
    {txt::slip_insert, "Inserire il foglio di stampa nella stazione SLIP...", "Insert the sheet into the SLIP station..."},
    {txt::slip_remove, "Rimuovere il foglio di stampa dalla Slip...", "Remove the sheet from the slip station..."},
    {txt::empty_document, "(E) : Documento di stampa vuoto", "(E) : Empty print document"},
    {txt::empty_document_detail, "      Il documento di stampa non contiene data.|      Operazione annullata",
     "      The print document holds no data.|      Operation cancelled"},
    {txt::print_ok, "(I) : Esecuzione comando di stampa", "(I) : Print command"},
    {txt::script_exec_error, "(E) : Errore di esecuzione.", "(E) : Execution error."},
    {txt::script_exec_error_detail, "      Linea errore esecuzione :%d|      Codice errore restituito",
     "      Line of the error :%d|      Error code returned"},
    {txt::check_title, "(I) : Procedura di verifica dati", "(I) : Data check"},
    {txt::check_error_detail, "      Linea errata: %d|      Codice di errore opos: ",
     "      Wrong line: %d|      OPOS error code: "},
    {txt::check_ok_detail, "      Verifica dati terminata con successo", "      Data check completed successfully"},
    {txt::logo_ok, "(I) : Comando impostazione logo", "(I) : Set logo command"},
    {txt::logo_error_detail, "Esecuzione del comando terminata con il codice di errore",
     "The command ended with the error code"},
    {txt::summary_title, "(I) : Dati di riepilogo", "(I) : Summary"},
    {txt::summary_title_sending, "(I) : Dati di invio alla stampante", "(I) : Data sent to the printer"},
    {txt::summary_detail, "      Numero linee    : %d|      Numero caratteri: %d",
     "      Lines     : %d|      Characters: %d"},
    {txt::device_info_none, "No connection with pos printer\r\nData not avaible",
     "No connection with pos printer\r\nData not avaible"},
    {txt::message_output_title, "Message output view", "Message output view"},
};

constexpr colour_row kColours[kColourCount] = {
    {"Bordeaux", "Maroon", 128, 0, 0},      {"Verde", "Green", 0, 128, 0},
    {"Verde Oliva", "Olive", 128, 128, 0},  {"Blu scuro", "Navy", 0, 0, 128},
    {"Viola", "Purple", 128, 0, 128},       {"Verde acqua", "Teal", 0, 128, 128},
    {"Grigio", "Grey", 128, 128, 128},      {"Grigio chiaro", "Silver", 192, 192, 192},
    {"Verde limone", "Lime", 0, 255, 0},    {"Giallo", "Yellow", 255, 255, 0},
    {"Blu", "Blue", 0, 0, 255},             {"Fucsia", "Fuchsia", 255, 0, 255},
    {"Azzurro", "Aqua", 0, 255, 255},
};

}  // namespace

colour_row colour(int index) {
  if (index < 0 || index >= kColourCount) return {"Nero", "Black", 0, 0, 0};
  return kColours[index];
}

std::string_view text(txt id, bool italian) {
  for (const text_row& row : kTexts) {
    if (row.id == id) return italian ? row.italian : row.english;
  }
  return {};
}

}  // namespace testbench
