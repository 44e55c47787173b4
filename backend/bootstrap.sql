-- What a hosted project provides before any migration runs, recreated for a plain PostgreSQL cluster:
-- the API roles, the auth schema with auth.uid(), and the tables the local sign-in service keeps.
-- Never apply this file to a hosted project. Safe to run more than once.

do $$
begin
    if not exists (select 1 from pg_roles where rolname = 'anon') then
        create role anon nologin noinherit;
    end if;
    if not exists (select 1 from pg_roles where rolname = 'authenticated') then
        create role authenticated nologin noinherit;
    end if;
    if not exists (select 1 from pg_roles where rolname = 'service_role') then
        create role service_role nologin noinherit bypassrls;
    end if;
    if not exists (select 1 from pg_roles where rolname = 'authenticator') then
        -- The server logs in as this role and switches to one of the three per request.
        create role authenticator login noinherit;
    end if;
end
$$;

grant anon, authenticated, service_role to authenticator;

grant usage on schema public to anon, authenticated, service_role;

create schema if not exists auth;
grant usage on schema auth to anon, authenticated, service_role;

-- The caller's user id from the claims the server sets for the current transaction; null when anonymous.
create or replace function auth.uid() returns uuid
    language sql stable
as $$
    select nullif(nullif(current_setting('request.jwt.claims', true), '')::jsonb ->> 'sub', '')::uuid
$$;

create or replace function auth.role() returns text
    language sql stable
as $$
    select nullif(current_setting('request.jwt.claims', true), '')::jsonb ->> 'role'
$$;

create or replace function auth.jwt() returns jsonb
    language sql stable
as $$
    select coalesce(nullif(current_setting('request.jwt.claims', true), ''), '{}')::jsonb
$$;

grant execute on function auth.uid(), auth.role(), auth.jwt() to anon, authenticated, service_role;

create table if not exists auth.users (
    id uuid primary key default gen_random_uuid(),
    email text not null,
    raw_app_meta_data jsonb not null default '{}'::jsonb,
    raw_user_meta_data jsonb not null default '{}'::jsonb,
    created_at timestamptz not null default now(),
    updated_at timestamptz not null default now(),
    last_sign_in_at timestamptz
);
-- One account per address, whatever its case.
create unique index if not exists users_email_lower_key on auth.users (lower(email));

create table if not exists auth.sessions (
    id uuid primary key default gen_random_uuid(),
    user_id uuid not null references auth.users (id) on delete cascade,
    created_at timestamptz not null default now(),
    updated_at timestamptz not null default now(),
    -- Set when the whole token family was revoked after a refresh token was replayed.
    revoked_at timestamptz
);
create index if not exists sessions_user_id_idx on auth.sessions (user_id);

create table if not exists auth.refresh_tokens (
    id bigserial primary key,
    token text not null unique,
    user_id uuid not null references auth.users (id) on delete cascade,
    session_id uuid not null references auth.sessions (id) on delete cascade,
    parent text,
    revoked boolean not null default false,
    created_at timestamptz not null default now(),
    updated_at timestamptz not null default now()
);
create index if not exists refresh_tokens_session_id_idx on auth.refresh_tokens (session_id);
create index if not exists refresh_tokens_parent_idx on auth.refresh_tokens (parent);

-- Only the server's privileged role touches the account tables.
revoke all on auth.users, auth.sessions, auth.refresh_tokens from public, anon, authenticated;
grant select, insert, update, delete on auth.users, auth.sessions, auth.refresh_tokens to service_role;
grant usage, select on sequence auth.refresh_tokens_id_seq to service_role;
