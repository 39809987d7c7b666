// Embedding requests for ranking pages by meaning: which service the provider settings allow,
// the texts sent for a document, the requests in each service's format and the vectors read
// back from its answer.
#pragma once

#include <QByteArray>
#include <QList>
#include <QNetworkRequest>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <optional>
#include <vector>

#include "core/engine.h"

namespace quorvel::desktop::ai {

// Documents with more pages are always ranked by keywords.
inline constexpr int kEmbeddingPageLimit = 100;
// Texts per Gemini batch request; the service refuses larger batches.
inline constexpr int kGeminiBatch = 100;

struct EmbeddingTarget {
  QString mode;  // "openai", "gemini", "backend"; empty: rank by keywords
  QString base;
};

// Names are compared exactly; a provider whose requirement is not met gives an empty mode.
EmbeddingTarget embeddingTarget(const QString& provider, const QString& key, const QString& base);

// The query as given, then one text per page: its runs joined by line feeds, at most 2000
// characters, and " " for a page without visible text.
QStringList embeddingTexts(const IDocument& doc, const QString& query);

struct EmbeddingCall {
  QNetworkRequest request;
  QByteArray body;
  int count = 0;  // texts in this call, so vectors expected back
};

struct EmbeddingSettings {
  QString provider;  // `ai/provider` as stored, empty when absent
  QString key;
  QString model;     // `ai/embed_model`; empty: the mode's default
};

// The requests of one search, in order: one for "openai" and "backend", batches of at most
// kGeminiBatch texts for "gemini". `backendEndpoint` is the backend's "/ai/embeddings" address.
QList<EmbeddingCall> embeddingCalls(const QString& mode, const QString& base, const EmbeddingSettings& s,
                                    const QStringList& texts, const QUrl& backendEndpoint);

// The vectors of an answer in the mode's format, or none when it does not hold exactly
// `expected` of them.
std::optional<std::vector<std::vector<float>>> embeddingVectors(const QString& mode, const QByteArray& body,
                                                                int expected);

}  // namespace quorvel::desktop::ai
