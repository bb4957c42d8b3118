#include "devsim/SampleData.h"

namespace devsim::sample {

const std::vector<std::string>& FirstNames() {
    static const std::vector<std::string> kNames = {
        "Anna",   "Zoë",     "José",       "François", "Jürgen", "Søren",  "Łukasz",
        "Åsa",    "Chloé",   "Mateo",      "Ingrid",   "Noah",   "Amélie", "Björn",
        "Dmitri", "Дмитрий", "Αλέξανδρος", "さくら",   "李娜",   "Mei",    "Olu",
        "Priya",  "Renée",   "Tomás",      "Ülkü",     "Yusuf",  "Émile",  "Kai",
        "Ngozi",  "Siobhán", "Ana-María",  "Jean-Luc", "Leïla",  "Marta",  "Ola"};
    return kNames;
}

const std::vector<std::string>& LastNames() {
    static const std::vector<std::string> kNames = {
        "Müller",    "García",  "Nowak",   "Dubois",       "Rossi",    "Smith",    "Nguyễn",
        "田中",      "Иванова", "O'Brien", "van der Berg", "Kowalski", "Jensen",   "Öztürk",
        "Fernández", "Lefèvre", "Hansen",  "Papadopoulos", "Silva",    "Kim",      "Okafor",
        "Ødegård",   "Novák",   "Schäfer", "Żak",          "Costa",    "D'Angelo", "Lindqvist"};
    return kNames;
}

const std::vector<std::string>& Companies() {
    static const std::vector<std::string> kCompanies = {
        "Brightwater Ltd.", "Müller & Söhne GmbH", "Café \"Zur Linde\"", "Northwind Logistics",
        "Atelier Lumière",  "Kōbō Design",         "Bäckerei Schmidt",   "Harbor, Hill & Co."};
    return kCompanies;
}

const std::vector<std::string>& JobTitles() {
    static const std::vector<std::string> kTitles = {
        "Engineer", "Dentist", "Chef de cuisine", "Product Manager",
        "Teacher",  "Nurse",   "Architect",       "Geschäftsführerin"};
    return kTitles;
}

const std::vector<std::string>& Notes() {
    static const std::vector<std::string> kNotes = {
        "Met at the conference in Lyon.",
        "Allergic to peanuts 🥜 — remember for dinner!",
        "Gate code: 4711\nParking behind the building",
        "Prefers e-mail; answers \"late\", usually after 22:00",
        "Geburtstag im März, schenkt gern Bücher",
        "誕生日は5月です",
        "Owes me 20 € for the concert, tickets, drinks",
        "Neighbour's kid; babysits on Fridays 👶"};
    return kNotes;
}

const std::vector<std::string>& MessageTexts() {
    static const std::vector<std::string> kTexts = {
        "Hey, are we still on for tonight?",
        "Yes! See you at 8 🙂",
        "Running 10 minutes late, sorry…",
        "Grüße aus München! Das Wetter ist herrlich ☀️",
        "Ça va ? On se voit demain à la gare.",
        "¿Dónde estás? Te espero en la entrada.",
        "こんにちは！元気ですか？",
        "Привет! Как дела?",
        "Can you pick up milk, eggs, and bread?",
        "He said \"no way\", then laughed 😂",
        "Meeting moved to 3pm, room B-204",
        "Happy birthday!!! 🎉🎂🎈",
        "Thanks, that's very kind of you.",
        "Line one\nLine two\nLine three",
        "OK",
        "👍",
        "Did you see the game last night? Unbelievable ending",
        "The code for the wifi is: pineapple-42",
        "Let's split it: 12,50 € each",
        "Bring the charger, mine's broken 🔌",
        "I'll call you when I land ✈️",
        "Καλημέρα! Τι κάνεις;",
        "Don't forget: dentist on Tuesday, 9:30",
        "Sure — whatever works for you.",
        "Photo from the trip 📷",
        "Mom says hi ❤️"};
    return kTexts;
}

const std::vector<std::string>& EmailDomains() {
    static const std::vector<std::string> kDomains = {"example.com", "example.org", "example.net",
                                                      "mail.example.de", "post.example.fr"};
    return kDomains;
}

const std::vector<Place>& Places() {
    static const std::vector<Place> kPlaces = {
        {"12 Harbour Street", "Portsmouth", "", "PO1 3AA", "United Kingdom", "gb"},
        {"Leopoldstraße 77", "München", "Bayern", "80802", "Germany", "de"},
        {"4 rue de l'Église", "Lyon", "", "69002", "France", "fr"},
        {"221 Pine Ave Apt 5", "Portland", "OR", "97204", "United States", "us"},
        {"Calle Mayor 9", "Sevilla", "Andalucía", "41001", "Spain", "es"},
        {"2-3-1 Shibuya", "東京", "", "150-0002", "Japan", "jp"}};
    return kPlaces;
}

const std::vector<std::string>& GroupChatNames() {
    static const std::vector<std::string> kNames = {"Weekend trip ⛰", "Family", "Book club 📚",
                                                    "Flat 3B"};
    return kNames;
}

const std::vector<std::string>& AppIdentifiers() {
    static const std::vector<std::string> kApps = {"com.example.notebook", "org.example.weather",
                                                   "net.example.chess",    "io.example.reader",
                                                   "com.example.tracker",  "org.example.recipes"};
    return kApps;
}

}  // namespace devsim::sample
