#include "core_lib/foundation/alias_words.h"

#include <iterator>

#include "core_lib/foundation/clock_random.h"

namespace vandrel {

namespace {

constexpr std::string_view adjectives[] = {
    "Active",      "Admired",    "Amazing",     "Angry",         "Athletic",   "Attractive",  "Awkward",
    "Baby",        "Bad",        "Beloved",     "Best",          "Big",        "Black",       "Blue",
    "Bold",        "Brave",      "Brown",       "Brave",         "Busy",       "Cheerful",    "Clean",
    "Clever",      "Cold",       "Confused",    "Cool",          "Crazy",      "Creative",    "Curvy",
    "Cute",        "Dependable", "Determined",  "Devoted",       "Dramatic",   "Educated",    "Elegant",
    "Emotional",   "Energetic",  "Enraged",     "Ethical",       "Excellent",  "Exotic",      "Fabulous",
    "Fair",        "Faithful",   "Fake",        "Famous",        "Fantastic",  "Fast",        "Fat",
    "Fearless",    "First",      "Flawless",    "Fresh",         "Frozen",     "Funny",       "Gentle",
    "Giant",       "Gifted",     "Golden",      "Good",          "Gorgeous",   "Graceful",    "Gracious",
    "Gray",        "Great",      "Green",       "Hairy",         "Handsome",   "Harmless",    "Healthy",
    "Heavy",       "Helpless",   "Hidden",      "Hilarious",     "Honest",     "Honorable",   "Humble",
    "Hungry",      "Ideal",      "Idle",        "Impressive",    "Innocent",   "Intelligent", "Interesting",
    "Jealous",     "Jovial",     "Junior",      "Large",         "Lazy",       "Lean",        "Likable",
    "Little",      "Lonely",     "Lost",        "Loud",          "Lovable",    "Lovely",      "Loyal",
    "Lucky",       "Mad",        "Magnificent", "Majestic",      "Major",      "Married",     "Mature",
    "Mean",        "Merry",      "Mindless",    "Modern",        "Modest",     "Mysterious",  "Naive",
    "Naughty",     "Neglected",  "Nervous",     "Nice",          "Noisy",      "Notable",     "Obedient",
    "Obese",       "Odd",        "Offensive",   "Old",           "Original",   "Ordinary",    "Pale",
    "Passionate",  "Perfect",    "Pink",        "Plastic",       "Pleasant",   "Polite",      "Poor",
    "Popular",     "Powerful",   "Powerless",   "Prestigious",   "Pretty",     "Precious",    "Productive",
    "Prudent",     "Proud",      "Punctual",    "Purple",        "Puzzled",    "Qualified",   "Quick",
    "Quiet",       "Radiant",    "Rapid",       "Rare",          "Raw",        "Reckless",    "Pleasant",
    "Real",        "Reasonable", "Red",         "Regular",       "Reliable",   "Remarkable",  "Respectful",
    "Responsible", "Rich",       "Roasted",     "Rosy",          "Rotten",     "Rough",       "Round",
    "Royal",       "Rude",       "Sad",         "Sarcastic",     "Scarce",     "Scared",      "Scary",
    "Second",      "Selfish",    "Sentimental", "Serious",       "Shameless",  "Sharp",       "Shiny",
    "Shocked",     "Short",      "Shy",         "Sick",          "Silent",     "Silly",       "Silver",
    "Simple",      "Single",     "Skinny",      "Sleepy",        "Slim",       "Slow",        "Small",
    "Smart",       "Smooth",     "Soft",        "Sophisticated", "Spotless",   "Square",      "Stained",
    "Strange",     "Strong",     "Stunning",    "Stupid",        "Stylish",    "Submissive",  "Super",
    "Superior",    "Sweet",      "Swift",       "Tall",          "Talkative",  "Tender",      "Terrible",
    "Thick",       "Thin",       "Thoughtful",  "Tidy",          "Tiny",       "Tired",       "Tough",
    "Trained",     "Troubled",   "Ugly",        "Ultimate",      "Unfinished", "Unique",      "Upbeat",
    "Upset",       "Valuable",   "Vengeful",    "Vicious",       "Violet",     "Violent",     "Virtual",
    "Visible",     "Warm",       "Wealthy",     "Weak",          "Weird",      "Wet",         "White",
    "Wicked",      "Wild",       "Wise",        "Witty",         "Worried",    "Yellow",      "Young",
    "Zealous",
};
static_assert(std::size(adjectives) == 253);

constexpr std::string_view animals[] = {
    "Aadvark",     "Albatross", "Alligator",   "Anaconda",  "Animal",    "Ape",         "Ant",       "Antelope",
    "Baboon",      "Badger",    "Barracuda",   "Bat",       "Beagle",    "Bear",        "Beaver",    "Bee",
    "Beetle",      "Bird",      "Bison",       "Bug",       "Bull",      "Bufalo",      "Bulldog",   "Butterfly",
    "Camel",       "Cat",       "Caterpillar", "Centipede", "Chameleon", "Cheetah",     "Chicken",   "Chimpazee",
    "Chipmunk",    "Cobra",     "Cockroach",   "Cougar",    "Cow",       "Crab",        "Cricket",   "Crocodile",
    "Dalmatian",   "Deer",      "Dinosaur",    "Dog",       "Donkey",    "Dove",        "Dragon",    "Dragonfly",
    "Duck",        "Eagle",     "Earthworm",   "Elephant",  "Falcon",    "Fish",        "Fly",       "Fowl",
    "Fox",         "Frog",      "Gazelle",     "Gecko",     "Giraffe",   "Goat",        "Goose",     "Gorilla",
    "Grasshopper", "Hamster",   "Hare",        "Hawk",      "Hen",       "Horse",       "Hyena",     "Iguana",
    "Insect",      "Jaguar",    "Jellyfish",   "Kangaroo",  "Koala",     "Leopard",     "Lion",      "Lizard",
    "LLama",       "Lobster",   "Locust",      "Maggot",    "Mandrill",  "Mamba",       "Millipede", "Mice",
    "Mockingbird", "Mongoose",  "Monkey",      "Mosquito",  "Mouse",     "Nightingale", "Octopus",   "Orca",
    "Owl",         "Ox",        "Oyster",      "Panda",     "Panther",   "Parrot",      "Peacock",   "Pelican",
    "Penguin",     "Pig",       "Pigeon",      "Puma",      "Python",    "Rabbit",      "Raccoon",   "Rat",
    "Rhino",       "Robin",     "Rodent",      "Rooster",   "Sailfish",  "Salamander",  "Salmon",    "Scorpion",
    "Seal",        "Shark",     "Sheep",       "Snail",     "Snake",     "Sparrow",     "Spider",    "Squid",
    "Squirrel",    "Swan",      "Termite",     "Tiger",     "Toad",      "Tortoise",    "Tuna",      "Turkey",
    "Turtle",      "Viper",     "Vulture",     "Wasp",      "Weasel",    "Whale",       "Wolf",      "Worm",
    "Zebra",
};
static_assert(std::size(animals) == 145);

}  // namespace

std::span<const std::string_view> alias_adjectives() { return adjectives; }

std::span<const std::string_view> alias_animals() { return animals; }

std::string random_alias() {
    const auto adjective = adjectives[random_int(0, static_cast<int>(std::size(adjectives)) - 1)];
    const auto animal = animals[random_int(0, static_cast<int>(std::size(animals)) - 1)];
    std::string alias;
    alias.reserve(adjective.size() + 1 + animal.size());
    alias.append(adjective).append(" ").append(animal);
    return alias;
}

}  // namespace vandrel
